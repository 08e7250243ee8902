// Reads a readable TOML task file into a task record and its text blocks.
#include "x5ctl/text/task_file.h"

#include "x5ctl/text/task_layers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <memory>
#include <sstream>
#include <utility>

#include "cipher/password_cipher.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::text {
namespace {

struct IntField {
  std::string_view key;
  int32_t protocol::TaskRecord::*member;
};

constexpr IntField kIntFields[] = {
    {"window_left", &protocol::TaskRecord::window_left},
    {"window_top", &protocol::TaskRecord::window_top},
    {"window_width", &protocol::TaskRecord::window_width},
    {"window_height", &protocol::TaskRecord::window_height},
    {"console_columns", &protocol::TaskRecord::console_columns},
    {"console_rows", &protocol::TaskRecord::console_rows},
    {"job_number", &protocol::TaskRecord::job_number},
    {"step_number", &protocol::TaskRecord::step_number},
    {"priority", &protocol::TaskRecord::priority},
    {"maximum_rc", &protocol::TaskRecord::maximum_rc},
    {"task_rc", &protocol::TaskRecord::task_rc},
    {"step_minimum_rc", &protocol::TaskRecord::step_minimum_rc},
    {"step_maximum_rc", &protocol::TaskRecord::step_maximum_rc},
    {"repeat_count", &protocol::TaskRecord::repeat_count},
    {"file_buffer_size", &protocol::TaskRecord::file_buffer_size},
    {"condition_line_width", &protocol::TaskRecord::condition_line_width},
    {"condition_line_limit", &protocol::TaskRecord::condition_line_limit},
    {"picture_interval", &protocol::TaskRecord::picture_interval},
};

struct TextField {
  std::string_view key;
  std::string protocol::TaskRecord::*member;
  size_t width;
};

constexpr TextField kTextFields[] = {
    {"user_name", &protocol::TaskRecord::user_name, protocol::kUserNameWidth},
    {"password", &protocol::TaskRecord::password, protocol::kPasswordWidth},
    {"domain", &protocol::TaskRecord::domain, protocol::kDomainWidth},
    {"job_name", &protocol::TaskRecord::job_name, protocol::kJobNameWidth},
    {"working_directory", &protocol::TaskRecord::working_directory, protocol::kPathWidth},
    {"console_file", &protocol::TaskRecord::console_file, protocol::kPathWidth},
    {"job_base_directory", &protocol::TaskRecord::job_base_directory, protocol::kPathWidth},
    {"step_directory", &protocol::TaskRecord::step_directory, protocol::kStepDirectoryWidth},
};

struct LengthField {
  std::string_view key;
  int32_t protocol::TaskRecord::*member;
};

constexpr LengthField kRawLengths[] = {
    {"command_length", &protocol::TaskRecord::command_length},
    {"conditions_length", &protocol::TaskRecord::conditions_length},
    {"variables_length", &protocol::TaskRecord::variables_length},
};

// Reads typed values; the first problem found is kept (with the line of its key) and every later
// read returns a harmless default, so callers check Failed() once per key.
class Reader {
 public:
  explicit Reader(std::string_view source) : source_(source) {}

  void Fail(const toml::node& node, std::string_view key, std::string_view what) {
    if (!error_.empty())
      return;
    std::ostringstream out;
    out << source_ << ':' << node.source().begin.line << ": " << key << ": " << what;
    error_ = out.str();
  }
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

  int64_t Integer(const toml::node& node, std::string_view key, int64_t min, int64_t max) {
    if (!node.is_integer()) {
      Fail(node, key, "must be an integer");
      return min;
    }
    int64_t value = node.as_integer()->get();
    if (value < min || value > max) {
      Fail(node, key,
           "value " + std::to_string(value) + " is out of range (" + std::to_string(min) + " to " +
               std::to_string(max) + ")");
      return min;
    }
    return value;
  }

  int32_t Int32(const toml::node& node, std::string_view key) {
    return static_cast<int32_t>(Integer(node, key, std::numeric_limits<int32_t>::min(),
                                        std::numeric_limits<int32_t>::max()));
  }

  std::string Text(const toml::node& node, std::string_view key) {
    if (!node.is_string()) {
      Fail(node, key, "must be a string");
      return {};
    }
    core::Result<std::string> bytes = AnsiFromUtf8(node.as_string()->get());
    if (!bytes) {
      Fail(node, key, bytes.failure().text);
      return {};
    }
    return std::move(*bytes);
  }

  std::string Field(const toml::node& node, std::string_view key, size_t width) {
    std::string text = Text(node, key);
    if (text.size() > width) {
      Fail(node, key,
           std::to_string(text.size()) + " characters; the field holds " + std::to_string(width));
    }
    return text;
  }

 private:
  std::string_view source_;
  std::string error_;
};

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
      out += '\r';
    out += text[i];
  }
  return out;
}

// A decimal number, or the 32-bit pattern of a hexadecimal one ("0x..."); why not, when it is
// none.
core::Result<int32_t> ParseInt32(std::string_view text) {
  const core::Failure none{"'" + std::string(text) + "' is not a 32-bit integer"};
  bool negative = false;
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty())
    return none;
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (ec != std::errc() || end != digits.data() + digits.size())
    return none;
  if (base == 16 && !negative) {
    // Hexadecimal gives the 32-bit pattern: 0xFFFFFFFF is -1.
    if (magnitude > std::numeric_limits<uint32_t>::max())
      return none;
    return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
  }
  int64_t signed_value =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (magnitude > uint64_t{1} << 31 || signed_value < std::numeric_limits<int32_t>::min() ||
      signed_value > std::numeric_limits<int32_t>::max())
    return none;
  return static_cast<int32_t>(signed_value);
}

std::vector<OpStep> ReadOps(Reader& reader, const toml::node& node) {
  std::vector<OpStep> ops;
  if (!node.is_array()) {
    reader.Fail(node, "ops", "must be an array of strings such as [\"STAT\", \"KILL 5\"]");
    return ops;
  }
  size_t number = 0;
  for (const toml::node& item : *node.as_array()) {
    // Named by its place, so a long list points at the bad item.
    const std::string key = "ops item " + std::to_string(++number);
    std::string line = reader.Text(item, key);
    core::Result<std::optional<OpStep>> parsed = ParseOpLine(line);
    if (!parsed)
      reader.Fail(item, key, parsed.failure().text);
    if (reader.Failed())
      break;
    if (*parsed)
      ops.push_back(**parsed);
  }
  return ops;
}

// What the layers of one task have said so far about the keys that are settled only once all of
// them are read.
struct Pending {
  bool crlf = true;
  bool step_directory_given = false;
  std::optional<std::string> delimiter;
  std::string variables;
  // The last layer's password_plain, unless a later layer gave the enciphered field.
  const toml::node* password_plain = nullptr;
  Reader* password_plain_reader = nullptr;
  std::vector<std::pair<const toml::table*, Reader*>> raws;
};

// Reads one layer's keys into `file`; a key the layer gives replaces what an earlier one gave.
void ReadLayer(const toml::table& table,
               std::span<const std::string> skip,
               Reader& reader,
               TaskFile& file,
               Pending& pending) {
  const toml::node* password_node = nullptr;
  const toml::node* password_plain_node = nullptr;
  for (auto&& [key_object, node] : table) {
    std::string_view key = key_object.str();
    if (std::find(skip.begin(), skip.end(), key) != skip.end())
      continue;
    auto int_field = std::find_if(std::begin(kIntFields), std::end(kIntFields),
                                  [&](const IntField& f) { return f.key == key; });
    if (int_field != std::end(kIntFields)) {
      file.task.*(int_field->member) = reader.Int32(node, key);
      continue;
    }
    auto text_field = std::find_if(std::begin(kTextFields), std::end(kTextFields),
                                   [&](const TextField& f) { return f.key == key; });
    if (text_field != std::end(kTextFields)) {
      file.task.*(text_field->member) = reader.Field(node, key, text_field->width);
      if (key == "password")
        password_node = &node;
      if (key == "step_directory")
        pending.step_directory_given = true;
      continue;
    }
    if (key == "os_version") {
      file.task.os_version = static_cast<uint8_t>(reader.Integer(node, key, 0, 255));
    } else if (key == "command") {
      file.blocks.command = reader.Text(node, key);
    } else if (key == "conditions") {
      file.blocks.conditions = reader.Text(node, key);
    } else if (key == "variables") {
      pending.variables = reader.Text(node, key);
    } else if (key == "variables_delimiter") {
      if (node.is_integer()) {
        pending.delimiter = std::string(1, static_cast<char>(reader.Integer(node, key, 0, 31)));
      } else {
        std::string text = reader.Text(node, key);
        if (text.size() != 1 || static_cast<uint8_t>(text[0]) >= 32)
          reader.Fail(node, key, "must be one control character (code 0 to 31), e.g. \"\\u0001\"");
        pending.delimiter = text;
      }
    } else if (key == "password_plain") {
      password_plain_node = &node;
    } else if (key == "line_ends") {
      std::string mode = reader.Text(node, key);
      if (mode != "crlf" && mode != "keep")
        reader.Fail(node, key, "must be \"crlf\" or \"keep\"");
      pending.crlf = mode == "crlf";
    } else if (key == "ops") {
      file.ops = ReadOps(reader, node);
    } else if (key == "raw") {
      if (!node.is_table())
        reader.Fail(node, key, "must be a table ([raw])");
      else
        pending.raws.emplace_back(node.as_table(), &reader);
    } else {
      reader.Fail(node, key, "unknown key");
    }
    if (reader.Failed())
      return;
  }
  if (password_plain_node && password_node) {
    reader.Fail(*password_plain_node, "password_plain",
                "give either password or password_plain, not both");
  } else if (password_plain_node) {
    pending.password_plain = password_plain_node;
    pending.password_plain_reader = &reader;
  } else if (password_node) {
    pending.password_plain = nullptr;
  }
}

// Settles what depends on all layers: the enciphered password, the step directory, line ends, the
// variables block with its delimiter, the lengths and [raw]. Returns the reader that failed, if
// any.
Reader* FinishTask(TaskFile& file, Pending& pending, const FieldEncipher& encipher_field) {
  if (pending.password_plain) {
    Reader& reader = *pending.password_plain_reader;
    const toml::node& node = *pending.password_plain;
    std::string plain = reader.Text(node, "password_plain");
    if (!encipher_field) {
      reader.Fail(node, "password_plain", "this build cannot encipher passwords");
    } else if (!reader.Failed()) {
      std::string field = encipher_field(plain);
      if (field.empty() || field.size() > protocol::kPasswordWidth)
        reader.Fail(node, "password_plain", "cannot be enciphered (at most 39 characters)");
      file.task.password = field;
    }
    if (reader.Failed())
      return &reader;
  }
  if (!pending.step_directory_given) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "S%02d", file.task.step_number);
    file.task.step_directory = buffer;
  }
  if (pending.crlf) {
    file.blocks.command = WithCrLf(file.blocks.command);
    file.blocks.conditions = WithCrLf(file.blocks.conditions);
    pending.variables = WithCrLf(pending.variables);
  }
  file.blocks.variables = pending.delimiter.value_or("") + pending.variables;
  FillBlockLengths(file.task, file.blocks);

  for (const auto& [raw, reader] : pending.raws) {
    for (auto&& [key_object, node] : *raw) {
      std::string_view key = key_object.str();
      auto length = std::find_if(std::begin(kRawLengths), std::end(kRawLengths),
                                 [&](const LengthField& f) { return f.key == key; });
      if (length != std::end(kRawLengths)) {
        file.task.*(length->member) = reader->Int32(node, key);
      } else if (key == "extra") {
        file.extra = reader->Text(node, key);
      } else if (key == "send_only") {
        file.send_only =
            static_cast<size_t>(reader->Integer(node, key, 0, std::numeric_limits<int32_t>::max()));
      } else {
        reader->Fail(node, std::string("raw.") + std::string(key), "unknown key");
      }
      if (reader->Failed())
        return reader;
    }
  }
  return nullptr;
}

}  // namespace

protocol::TaskRecord DefaultTaskRecord() {
  protocol::TaskRecord t;
  t.window_left = -1;
  t.window_top = -1;
  t.window_width = -1;
  t.window_height = -1;
  t.console_columns = 80;
  t.console_rows = 25;
  t.job_number = 1;
  t.step_number = 1;
  t.priority = 23;  // normal class, normal thread priority
  t.user_name = "X5CTL";
  t.job_name = "X5JOB";
  t.job_base_directory = "C:\\x5jobs\\";
  t.maximum_rc = 4;
  t.task_rc = 1;
  t.step_minimum_rc = 1;
  t.step_maximum_rc = 4;
  t.repeat_count = 0;
  t.file_buffer_size = 4096;
  t.condition_line_width = 0;
  t.condition_line_limit = 256;
  t.picture_interval = -1;
  t.os_version = 6;
  return t;
}

void FillBlockLengths(protocol::TaskRecord& task, const TaskBlocks& blocks) {
  auto length = [](const std::string& block) {
    return static_cast<int32_t>(
        std::min<size_t>(block.size(), std::numeric_limits<int32_t>::max()));
  };
  task.command_length = length(blocks.command);
  task.conditions_length = length(blocks.conditions);
  task.variables_length = length(blocks.variables);
}

std::vector<uint8_t> EncodeTaskStream(const protocol::TaskRecord& task, const TaskBlocks& blocks) {
  protocol::TaskBytes record = protocol::EncodeTaskRecord(task);
  std::vector<uint8_t> stream(record.begin(), record.end());
  for (const std::string* block : {&blocks.command, &blocks.conditions, &blocks.variables})
    stream.insert(stream.end(), block->begin(), block->end());
  return stream;
}

std::vector<uint8_t> TaskFile::Stream() const {
  std::vector<uint8_t> stream = EncodeTaskStream(task, blocks);
  stream.insert(stream.end(), extra.begin(), extra.end());
  if (send_only && *send_only < stream.size())
    stream.resize(*send_only);
  return stream;
}

std::string FormatOps(const std::vector<OpStep>& ops) {
  if (ops.empty())
    return {};
  std::string items;
  auto add = [&items](const std::string& line) {
    items += (items.empty() ? "" : ", ") + TomlString(line);
  };
  for (const OpStep& op : ops) {
    if (op.kind == OpStep::Kind::kSleep) {
      add("sleep " + std::to_string(op.delay_ms));
      continue;
    }
    if (op.delay_ms > 0)
      add("sleep " + std::to_string(op.delay_ms));
    if (op.kind == OpStep::Kind::kClose) {
      add("close");
      continue;
    }
    std::string name = op.name;
    while (!name.empty() && name.back() == ' ')
      name.pop_back();
    add(op.argument != 0 ? name + " " + std::to_string(op.argument) : name);
  }
  return "ops = [" + items + "]\n";
}

core::Result<std::optional<OpStep>> ParseOpLine(std::string_view line) {
  std::vector<std::string_view> words = Words(line);
  if (words.empty() || words[0].front() == '#')
    return std::optional<OpStep>();
  OpStep step;
  std::string_view name = words[0];
  if (name == "sleep") {
    const core::Result<int32_t> ms =
        words.size() == 2 ? ParseInt32(words[1]) : core::Result<int32_t>(core::Failure{});
    if (!ms || *ms < 0)
      return core::Failure{"sleep takes one number of milliseconds (0 or more)"};
    step.kind = OpStep::Kind::kSleep;
    step.delay_ms = *ms;
  } else if (name == "close") {
    if (words.size() != 1)
      return core::Failure{"close takes no argument"};
    step.kind = OpStep::Kind::kClose;
  } else {
    core::Result<std::string> bytes = AnsiFromUtf8(name);
    if (!bytes)
      return std::move(bytes).failure();
    if (bytes->size() > protocol::kOperatorCommandSize / 2)
      return core::Failure{"operator command '" + std::string(name) +
                           "' is longer than 4 characters"};
    if (words.size() > 2)
      return core::Failure{"an operator command takes at most one argument"};
    if (words.size() == 2) {
      core::Result<int32_t> argument = ParseInt32(words[1]);
      if (!argument)
        return std::move(argument).failure().Within("argument ");
      step.argument = *argument;
    }
    step.name = protocol::Padded(*bytes, 4);
  }
  return std::optional<OpStep>(std::move(step));
}

namespace {

// The parser's words, except where they hide a common slip: a string whose closing quote is
// missing reads as a string holding the line end.
std::string ParseErrorText(std::string_view toml_text, const toml::parse_error& e) {
  const std::string description(e.description());
  if (description.find("string") == std::string::npos ||
      description.find("control character") == std::string::npos) {
    return description;
  }
  size_t line_start = 0;
  for (auto line = e.source().begin.line; line > 1 && line_start != std::string_view::npos;
       --line) {
    line_start = toml_text.find('\n', line_start);
    if (line_start != std::string_view::npos)
      ++line_start;
  }
  if (line_start == std::string_view::npos)
    return description;
  const size_t at = line_start + e.source().begin.column - 1;
  if (at < toml_text.size() && toml_text[at] != '\n' && toml_text[at] != '\r')
    return description;
  return "unterminated string: the closing quote is missing on this line";
}

}  // namespace

core::Result<toml::table> ParseToml(std::string_view toml_text, std::string_view source_name) {
  try {
    toml::parse_result parsed = toml::parse(toml_text, source_name);
    if (!parsed) {
      const toml::parse_error& e = parsed.error();
      std::ostringstream out;
      out << source_name << ':' << e.source().begin.line << ':' << e.source().begin.column << ": "
          << ParseErrorText(toml_text, e);
      return core::Failure{out.str()};
    }
    return std::move(parsed).table();
  } catch (const std::bad_alloc&) {
    return core::Failure{std::string(source_name) + ": out of memory"};
  }
}

std::string KeyProblem(const toml::node& node,
                       std::string_view source_name,
                       std::string_view key,
                       std::string_view what) {
  return std::string(source_name) + ':' + std::to_string(node.source().begin.line) + ": " +
         std::string(key) + ": " + std::string(what);
}

core::Result<TaskFile> ReadTaskLayers(std::span<const TaskLayer> layers,
                                      const protocol::TaskRecord& start,
                                      const FieldEncipher& encipher_field) {
  try {
    TaskFile file;
    file.task = start;
    Pending pending;
    // One reader per layer, so that each problem names the file its key is in.
    std::vector<std::unique_ptr<Reader>> readers;
    for (const TaskLayer& layer : layers) {
      readers.push_back(std::make_unique<Reader>(layer.source));
      ReadLayer(*layer.table, layer.skip, *readers.back(), file, pending);
      if (readers.back()->Failed())
        return core::Failure{readers.back()->Error()};
    }
    if (Reader* failed = FinishTask(file, pending, encipher_field))
      return core::Failure{failed->Error()};
    return file;
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory"};
  }
}

core::Result<TaskFile> ParseTaskFile(std::string_view toml_text,
                                     std::string_view source_name,
                                     const FieldEncipher& encipher_field) {
  core::Result<toml::table> table = ParseToml(toml_text, source_name);
  if (!table)
    return std::move(table).failure();
  const TaskLayer layer{&*table, std::string(source_name), {}};
  return ReadTaskLayers({&layer, 1}, DefaultTaskRecord(), encipher_field);
}

std::string EncipherPasswordField(std::string_view plain) {
  return cipher::EncipherField(plain);
}

core::Result<std::string> ReadTomlFile(const std::string& path, std::string_view what) {
  try {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
      return core::Failure{path + ": is a folder, not a " + std::string(what)};
    std::ifstream in(path, std::ios::binary);
    if (!in)
      return core::Failure{path + ": cannot open the " + std::string(what)};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
      return core::Failure{path + ": cannot read the " + std::string(what)};
    return text.str();
  } catch (const std::exception& e) {
    return core::Failure{path + ": " + e.what()};
  }
}

core::Result<TaskFile> LoadTaskFile(const std::string& path, const FieldEncipher& encipher_field) {
  core::Result<std::string> text = ReadTomlFile(path, "task file");
  if (!text)
    return std::move(text).failure();
  return ParseTaskFile(*text, path, encipher_field);
}

}  // namespace x5::ctl::text
