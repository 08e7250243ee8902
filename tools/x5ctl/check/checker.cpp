// The checker's records: the task as read, the journal's new entries, variables and decisions.
#include "x5ctl/check/checker.h"

#include <algorithm>
#include <cstdio>

#include "core/ascii_text.h"

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

// Whether the table entry "NAME=value" defines `name`.
bool SameName(std::string_view entry, std::string_view name) {
  return entry.size() > name.size() && entry[name.size()] == '=' &&
         core::EqualIgnoringCase(entry.substr(0, name.size()), name);
}

std::string ControlCharacters(std::string_view text) {
  std::string list;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F)
      continue;
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", c);
    const std::string name = c == '\t'   ? "a TAB"
                             : c == '\n' ? "a line feed"
                             : c == '\r' ? "a carriage return"
                                         : std::string("the control character ") + code;
    list += (list.empty() ? "" : ", ") + name + " at column " + std::to_string(i + 1);
  }
  return list;
}

std::string Flag(core::ResultFlag flag) {
  return std::string(1, core::FlagByte(flag));
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

std::string Checker::OwnJobLogLine(std::string_view text,
                                   bool case_folding,
                                   size_t console_lines) const {
  const std::vector<std::string>& console = world_.journal().console;
  std::vector<std::string> lines(console.begin(),
                                 console.begin() + std::min(console_lines, console.size()));
  if (!job_log_command_.empty())
    lines.push_back(job_log_command_);
  for (const std::string& line : lines) {
    const std::string folded = case_folding ? core::UpperAscii(line) : line;
    if (folded.find(text) != std::string::npos)
      return line;
  }
  return {};
}

namespace {

// Where the runner's own code says each variable came from.
class Origins final : public variables::VariableObserver {
 public:
  void Defined(size_t index, variables::VariableOrigin origin, std::string_view source) override {
    if (by_index.size() <= index)
      by_index.resize(index + 1);
    by_index[index] = {origin, std::string(source)};
  }
  std::vector<std::pair<variables::VariableOrigin, std::string>> by_index;
};

std::string OriginText(variables::VariableOrigin origin, const std::string& source) {
  switch (origin) {
    case variables::VariableOrigin::kGlobalParameterFile:
      return "global parameter file " + U(source);
    case variables::VariableOrigin::kTask:
      return "task";
    case variables::VariableOrigin::kSetLine:
      return "SET line";
    case variables::VariableOrigin::kSetpLine:
      return "SETP line";
    case variables::VariableOrigin::kWorkingDirectory:
      return "working directory";
  }
  return {};
}

}  // namespace

void Checker::Variables() {
  Origins origins;
  variables_.observer = &origins;
  SetStepVariables(variables_);
  variables_.observer = nullptr;
  for (size_t i = 0; i < table_.size(); ++i) {
    const std::string& entry = table_[i];
    const size_t equals = entry.find('=');
    const std::string name = entry.substr(0, equals);
    const std::string_view value = std::string_view(entry).substr(equals + 1);
    const bool password = !value.empty() && value.front() == variables::kPasswordMarker;
    const std::string source = i < origins.by_index.size() ? OriginText(origins.by_index[i].first,
                                                                        origins.by_index[i].second)
                                                           : std::string();
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

namespace {

// The words for what a stage of the sequence decided; the decisions are the sequence's own.
std::string Verdict(sequence::Pass pass, sequence::Decision decision, core::RcDecision rules) {
  switch (decision) {
    case sequence::Decision::kNoCommand:
      return "there is no command to run";
    case sequence::Decision::kCommandTooLong:
      return "the step does not start: its command line is too long";
    case sequence::Decision::kNotStarted:
      return "the step does not start";
    default:
      break;
  }
  const bool after = pass == sequence::Pass::kAfterStep;
  switch (rules) {
    case core::RcDecision::kEnded:
      return "the job ends as requested";
    case core::RcDecision::kAbended:
      return "the step abends";
    case core::RcDecision::kSkipped:
      // After the step a range missed changes nothing: the step ran.
      return after ? "the step ends normally" : "the step is skipped";
    case core::RcDecision::kRuns:
      break;
  }
  return after ? "the step ends normally" : "the step runs";
}

}  // namespace

void Checker::Decide(sequence::Pass pass,
                     sequence::Decision decision,
                     core::RcDecision rules,
                     std::string_view message,
                     bool rules_shown) {
  Json j;
  j["record"] = "decision";
  j["stage"] = pass == sequence::Pass::kAfterStep ? "after" : "before";
  j["step_rc_value"] = rc_.step_rc_value;
  j["current_rc"] = rc_.current_rc;
  j["result_flag"] = Flag(rc_.result_flag);
  j["message"] = U(message);
  j["verdict"] = Verdict(pass, decision, rules);
  j["rules_shown"] = rules_shown;
  Emit(std::move(j));
}

}  // namespace x5::ctl::check
