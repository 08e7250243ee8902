// The checker's records: the task as read, the journal's new entries, variables and decisions.
#include "x5ctl/check/checker.h"

#include <algorithm>

#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::check {
namespace {

namespace fs = std::filesystem;

// The runner's own reading of the bytes a parent sends: the record, then the three blocks.
class BytesReader final : public protocol::ByteReader {
 public:
  explicit BytesReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  core::Result<int64_t> Read(std::span<uint8_t> into) override {
    const size_t n = std::min(into.size(), bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, n, into.data());
    at_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace

std::string U(std::string_view ansi) {
  return text::Utf8FromAnsi(ansi);
}

RunnerInput ReadAsRunner(const std::vector<uint8_t>& stream) {
  BytesReader in(stream);
  protocol::TaskBytes bytes{};
  (void)protocol::ReadFull(in, bytes);  // bytes it cannot read stay zero, as in the runner
  RunnerInput input;
  input.task = protocol::DecodeTaskRecord(bytes);
  input.command =
      protocol::ReadTextBlock(in, input.task.command_length, false, input.delimiter).text;
  input.conditions =
      protocol::ReadTextBlock(in, input.task.conditions_length, false, input.delimiter).text;
  input.variables =
      protocol::ReadTextBlock(in, input.task.variables_length, true, input.delimiter).text;
  return input;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return UpperAscii(x) == UpperAscii(y);
         });
}

// Whether the table entry "NAME=value" defines `name`.
bool SameName(std::string_view entry, std::string_view name) {
  return entry.size() > name.size() && entry[name.size()] == '=' &&
         EqualNoCase(entry.substr(0, name.size()), name);
}

std::string Flag(char flag) {
  return std::string(1, flag);
}

Json Checker::Console() {
  Json lines = Json::array();
  auto& console = world_.journal().console;
  for (; console_mark_ < console.size(); ++console_mark_) {
    // One console message may hold several lines; the console ends each message with a line end.
    for (const std::string& line : text::CrLfLines(console[console_mark_], true))
      lines.push_back(U(line));
  }
  return lines;
}

std::string Checker::Shown(const MappedPath& mapped) const {
  if (!mapped.local)
    return {};
  for (const DriveMap::Entry& entry : world_.drives().entries()) {
    const fs::path relative = mapped.local->lexically_relative(entry.directory);
    if (!relative.empty() && *relative.begin() != "..") {
      const std::u8string rest = relative.generic_u8string();
      std::string shown = entry.given;
      if (relative != ".")
        shown.append("/").append(rest.begin(), rest.end());
      return shown;
    }
  }
  const std::u8string whole = mapped.local->generic_u8string();
  return std::string(whole.begin(), whole.end());
}

Json Checker::Mapped(const FileLookup& lookup) const {
  const MappedPath& mapped = lookup.mapped;
  Json j;
  j["path"] = U(lookup.path);
  j["local"] = mapped.local ? Json(Shown(mapped)) : Json(nullptr);
  j["found"] = lookup.found;
  j["as_written"] = lookup.written;
  if (!mapped.problem.empty())
    j["problem"] = mapped.problem;
  if (mapped.short_name)
    j["problem"] = "8.3 short names exist only on the real machine";
  return j;
}

Json Checker::Files() {
  Json files = Json::array();
  auto& looked = world_.journal().files;
  std::vector<std::string> seen;
  for (; files_mark_ < looked.size(); ++files_mark_) {
    const FileLookup& lookup = looked[files_mark_];
    if (std::find(seen.begin(), seen.end(), lookup.path) != seen.end())
      continue;
    seen.push_back(lookup.path);
    files.push_back(Mapped(lookup));
  }
  return files;
}

// Variables defined since the last call (a rule's ?= variable, a /X5S assignment), masked.
Json Checker::NewVariables() {
  Json defined = Json::array();
  for (; table_mark_ < table_.size(); ++table_mark_) {
    const std::string& entry = table_[table_mark_];
    const size_t equals = entry.find('=');
    const std::string_view value = std::string_view(entry).substr(equals + 1);
    const bool password = !value.empty() && value.front() == variables::kPasswordMarker;
    std::string shown = U(entry.substr(0, equals + 1)) + (password ? "*****" : U(value));
    const std::string name = entry.substr(0, equals);
    for (size_t k = 0; k < table_mark_; ++k) {
      if (!SameName(table_[k], name))
        continue;
      // %NAME% takes the first definition of a name, such as a global parameter loaded from its
      // file before the step's own lines ran.
      const std::string_view old = std::string_view(table_[k]).substr(equals + 1);
      const std::string earlier =
          U(table_[k].substr(0, equals + 1)) +
          (!old.empty() && old.front() == variables::kPasswordMarker ? "*****" : U(old));
      warnings_.push_back(shown + " does not change %" + U(name) + "% in this step: " + earlier +
                          ", defined earlier, comes first");
      shown += " (not used for %" + U(name) + "%: " + earlier + " comes first)";
      break;
    }
    defined.push_back(std::move(shown));
  }
  return defined;
}

// Moves past whatever was not shown (the quiet part of a check after the step only).
void Checker::Skip() {
  console_mark_ = world_.journal().console.size();
  files_mark_ = world_.journal().files.size();
  writes_mark_ = world_.journal().writes.size();
  table_mark_ = table_.size();
}

Json Checker::Writes() {
  Json list = Json::array();
  auto& writes = world_.journal().writes;
  for (; writes_mark_ < writes.size(); ++writes_mark_) {
    const RecordedWrite& w = writes[writes_mark_];
    Json j;
    j["record"] = "write";
    j["what"] = w.what;
    j["path"] = U(w.path);
    j["local"] = w.mapped.local ? Json(Shown(w.mapped)) : Json(nullptr);
    j["bytes"] = w.bytes;
    j["would_fail"] = w.would_fail;
    if (w.would_fail)
      j["problem"] = w.mapped.problem.empty() ? "the folder does not exist" : w.mapped.problem;
    list.push_back(std::move(j));
  }
  return list;
}

void Checker::EmitWrites() {
  for (Json& write : Writes())
    Emit(std::move(write));
}

// Whether a SET value names a password variable (%NAME% of a SETP line or a password field).
bool Checker::UsesPassword(std::string_view value) const {
  for (size_t open = value.find('%'); open != std::string_view::npos;) {
    const size_t close = value.find('%', open + 1);
    if (close == std::string_view::npos)
      return false;
    const std::string_view name = value.substr(open + 1, close - open - 1);
    for (const std::string& entry : table_) {
      if (!name.empty() && SameName(entry, name)) {
        if (entry.size() > name.size() + 1 && entry[name.size() + 1] == variables::kPasswordMarker)
          return true;
        break;
      }
    }
    open = value.find('%', close + 1);
  }
  return false;
}

void Checker::Variables() {
  SetStepVariables(variables_);
  // SetStepVariables defines, in order: the global parameter files, X5S to X5TRC, the SET lines
  // of the variables block, X5W.
  size_t task_first = table_.size();
  for (size_t i = 0; i < table_.size(); ++i) {
    if (table_[i].starts_with("X5S=")) {
      task_first = i;
      break;
    }
  }
  constexpr size_t kTaskVariables = 10;
  for (size_t i = 0; i < table_.size(); ++i) {
    const std::string& entry = table_[i];
    const size_t equals = entry.find('=');
    const std::string name = entry.substr(0, equals);
    const std::string_view value = std::string_view(entry).substr(equals + 1);
    const bool password = !value.empty() && value.front() == variables::kPasswordMarker;
    std::string source;
    if (i < task_first)
      source = "global parameter file " + U(state_.global_parameter_directory + name) + ".$$$";
    else if (i < task_first + kTaskVariables)
      source = "task";
    else if (i + 1 == table_.size() && name == "X5W")
      source = "working directory";
    else
      source = password ? "SETP line" : "SET line";
    bool shadowed = false;
    for (size_t k = 0; k < i && !shadowed; ++k)
      shadowed = SameName(table_[k], name);
    if (source == "SET line" && UsesPassword(value))
      warnings_.push_back(U(name) +
                          " is set from a password variable: a SET line gets its "
                          "value as ***** and the step gets those five asterisks (SETP keeps a "
                          "password, or use the password variable in the command itself)");
    Json j;
    j["record"] = "variable";
    j["name"] = U(name);
    j["value"] = password ? "*****" : U(value);
    j["source"] = source;
    j["password"] = password;
    j["shadowed"] = shadowed;
    Emit(std::move(j));
  }
  table_mark_ = table_.size();
  if (Json lines = Console(); !lines.empty())
    Emit(Json{{"record", "console"}, {"lines", lines}});
  EmitWrites();
  files_mark_ = world_.journal().files.size();
}

void Checker::Decide(const std::string& stage,
                     const std::string& message,
                     const char* no_command_verdict) {
  Json j;
  j["record"] = "decision";
  j["stage"] = stage;
  j["step_rc_value"] = rc_.step_rc_value;
  j["current_rc"] = rc_.current_rc;
  j["result_flag"] = Flag(rc_.result_flag);
  j["message"] = U(message);
  std::string verdict = stage == "after" ? "the step ends normally" : "the step runs";
  if (rc_.result_flag == 'S') {
    if (stage != "after")
      verdict = "the step is skipped";
  } else if (rc_.result_flag == '-') {
    verdict = rc_.current_rc == 0 ? "the job ends as requested" : "the step abends";
  }
  if (no_command_verdict)
    verdict = no_command_verdict;
  j["verdict"] = verdict;
  verdict_ = verdict;
  Emit(std::move(j));
}

}  // namespace x5::ctl::check
