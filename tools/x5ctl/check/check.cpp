// `x5ctl check`: the runner's steps before the launch (and, on request, after the step) carried out
// by the runner's own portable routines in a world that only reads.
#include "x5ctl/check/check.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <ostream>

#include "cipher/password_cipher.h"
#include "commands/command_split.h"
#include "commands/dispatcher.h"
#include "conditions/rule_language.h"
#include "core/calendar.h"
#include "core/rc_rules.h"
#include "protocol/status_texts.h"
#include "protocol/task_values.h"
#include "sequence/main_sequence.h"
#include "sequence/step_state.h"
#include "x5ctl/check/check_text.h"
#include "x5ctl/check/check_world.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::check {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The drive of the runner's own folder, on which a document named from the root ("\x.doc") is
// looked for again. Not known here; the shell's answer is not known either (see the notes).
constexpr char kRunnerDrive = 'C';

std::string U(std::string_view ansi) {
  return text::Utf8FromAnsi(ansi);
}

// ------------------------------------------------------------------------------ task and options

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

struct RunnerInput {
  protocol::TaskRecord task;
  std::string command;
  std::string conditions;
  std::string variables;
  char delimiter = ';';
};

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

std::optional<core::LocalTime> ParseNow(const std::string& text) {
  core::LocalTime t;
  char separator = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &t.year, &t.month, &t.day, &separator,
                  &t.hour, &t.minute, &t.second, &tail) != 7 ||
      (separator != ' ' && separator != 'T') || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59 || t.year < 1601)
    return std::nullopt;
  t.day_of_week = core::DayOfWeek(t.year, t.month, t.day);
  return t;
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

// The value of the last parameter with that letter on a rule line, as written; empty when none.
std::string ParameterValue(std::string_view line, char letter) {
  std::string value;
  size_t position = 1;
  while (position <= line.size()) {
    while (position <= line.size() && line[position - 1] == ' ')
      ++position;
    if (position > line.size())
      break;
    const std::string parameter = conditions::NextParameter(line, position);
    if (parameter.size() < 3)
      break;
    if (UpperAscii(parameter[0]) == letter)
      value = parameter.substr(2);
    position += parameter.size() + 1;
  }
  return value;
}

// A V= value in the length form: no comma outside quotation marks.
bool ValueWithoutOffset(std::string_view value) {
  bool quoted = false;
  for (char c : value) {
    if (c == '"')
      quoted = !quoted;
    else if (c == ',' && !quoted)
      return false;
  }
  return !value.empty();
}

std::string Flag(char flag) {
  return std::string(1, flag);
}

// ------------------------------------------------------------------------------ the check

// The check takes the task's picture interval as written; it takes no pictures.
sequence::StepState StateOf(const protocol::TaskRecord& task) {
  sequence::StepState state;
  state.switches.picture_interval = task.picture_interval;
  return state;
}

class Checker {
 public:
  Checker(const RunnerInput& input, const DriveMap& drives, WorldOptions world)
      : input_(input), world_(drives, std::move(world)) {}

  // Carries out the runner's sequence up to the launch and, when asked, after the step.
  int Run(CheckOptions::Sections sections);

  std::vector<Json> records;

 private:
  class Expanding;
  class RuleTrace;
  class Stages;

  void Emit(Json record) { records.push_back(std::move(record)); }
  Json Console();
  Json Files();
  Json NewVariables();
  Json Writes();
  void EmitWrites();
  void Skip();
  std::string Shown(const MappedPath& mapped) const;
  Json Mapped(const FileLookup& lookup) const;
  void Variables();
  bool UsesPassword(std::string_view value) const;
  std::string Rules(conditions::Pass pass, bool emit);
  std::string Command(bool emit);
  // Records the return-code decision; `no_command_verdict` when no command line is left.
  void Decide(const std::string& stage,
              const std::string& message,
              const char* no_command_verdict = nullptr);
  std::string JobLogCommand();
  commands::CommandContext Commands(core::Expander& expander, core::VariableStore& store);
  void Notes(bool runs);

  const RunnerInput& input_;
  World world_;
  protocol::TaskRecord task_ = input_.task;
  sequence::StepState state_ = StateOf(task_);
  std::vector<std::string>& table_ = state_.variables;
  variables::VariableContext variables_{table_,
                                        task_,
                                        input_.variables,
                                        input_.delimiter,
                                        state_.global_parameter_directory,
                                        world_.console(),
                                        world_.environment(),
                                        world_.clock(),
                                        world_.date_names(),
                                        world_.parameter_files()};
  sequence::Outcome outcome_ = sequence::StartOutcome(task_);
  core::RcState& rc_ = outcome_.rc;
  protocol::FileCheckLimits limits_ = protocol::NormaliseFileCheckLimits(task_);
  std::string status_text_;
  std::string verdict_;
  // Rule lines whose file no mapping reaches: "line 2 (C:\\data\\in.txt)".
  std::vector<std::string> unchecked_;
  // What works differently from how the task reads: said in the summary.
  std::vector<std::string> warnings_;

  // How far the journal and the table were shown.
  size_t console_mark_ = 0;
  size_t files_mark_ = 0;
  size_t writes_mark_ = 0;
  size_t table_mark_ = 0;

  // What the rules used, for the notes.
  bool values_compared_ = false;
  bool attributes_tested_ = false;
  bool exclusive_open_ = false;
  bool folded_high_bytes_ = false;
  bool job_log_read_after_ = false;
};

Json Checker::Console() {
  Json lines = Json::array();
  auto& console = world_.journal().console;
  for (; console_mark_ < console.size(); ++console_mark_) {
    // One console message may hold several lines; the console ends each message with a line end.
    for (const std::string& line : CrLfLines(console[console_mark_], true))
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

// ------------------------------------------------------------------------------ variables

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

// ------------------------------------------------------------------------------ rules

// Follows each rule line of a pass: how it parsed, what it read, what it said and did.
class Checker::RuleTrace final : public conditions::RuleLineObserver {
 public:
  RuleTrace(Checker& checker, conditions::Pass pass, bool emit)
      : checker_(checker), pass_(pass), emit_(emit), before_(checker.state_.rule_settings) {
    rc_ = checker.rc_.step_rc_value;
  }

  void Evaluated(int32_t line_number,
                 std::string_view line,
                 bool after_step,
                 bool forward,
                 const conditions::RuleSettings& settings,
                 std::string_view output) noexcept override {
    // The rules go on whatever happens here; a failure to follow them ends the check afterwards.
    try {
      Follow(line_number, line, after_step, forward, settings, output);
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }

  void Checked(std::string_view finding, const conditions::ValueField* field) noexcept override {
    try {
      finding_ = finding;
      field_.reset();
      if (field)
        field_ = *field;
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }

  std::exception_ptr failure;

 private:
  void Follow(int32_t line_number,
              std::string_view line,
              bool after_step,
              bool forward,
              const conditions::RuleSettings& settings,
              std::string_view output) {
    if (after_step != (pass_ == conditions::Pass::kAfterStep) ||
        line.find_first_not_of(' ') == std::string_view::npos) {
      return;
    }
    // The same parse on the settings as they were, to tell a line that ended early from one that
    // passed (neither says anything).
    conditions::RuleSettings probe = before_;
    std::string error;
    const conditions::LineParse parse =
        conditions::ParseRuleLine(probe, line, line_number, conditions::AsciiCaseMap(), error);
    before_ = settings;

    std::string outcome;
    if (parse == conditions::LineParse::kRejected) {
      outcome = "rejected";
    } else if (parse == conditions::LineParse::kEnded) {
      outcome = "ended";
    } else {
      // A reverse rule that stays quiet found its file not as it describes: the finding says how.
      outcome = !output.empty() ? "fired" : settings.reverse ? "not fired" : "passed";
      checker_.values_compared_ |= settings.value_length > 0;
      checker_.attributes_tested_ |=
          settings.attribute_operator == "=" ||
          settings.attribute_pattern.find_first_not_of(' ') != std::string::npos;
      checker_.exclusive_open_ |= settings.open_mode == 'W';
      checker_.job_log_read_after_ |=
          after_step &&
          EqualNoCase(settings.file_name, protocol::Trimmed(checker_.task_.console_file));
      checker_.folded_high_bytes_ |=
          settings.case_folding &&
          std::any_of(settings.search_text.begin(), settings.search_text.end(),
                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    }
    Json j;
    j["record"] = "rule";
    j["pass"] = pass_ == conditions::Pass::kAfterStep ? "after" : "before";
    j["line"] = line_number;
    j["text"] = U(line);
    j["search"] = forward ? "forward" : "backward";
    j["rc"] = settings.rc_value;
    j["search_text"] = parse == conditions::LineParse::kAccepted ? U(settings.search_text) : "";
    // S= keeps its value from line to line: a line without one searches for the last one's text.
    j["search_kept"] = !settings.search_text.empty() && ParameterValue(line, 'S').empty();
    if (parse == conditions::LineParse::kAccepted && settings.value_length > 0) {
      j["value_offset"] = settings.value_offset;
      j["value_length"] = settings.value_length;
      // So does the offset of V=: a V= without one reads at the offset an earlier line gave.
      j["value_offset_kept"] =
          settings.value_offset != 0 && ValueWithoutOffset(ParameterValue(line, 'V'));
      if (field_)
        j["value"] = ValueRecord(*field_, settings);
    }
    if (parse == conditions::LineParse::kAccepted && !finding_.empty())
      j["finding"] = U(finding_);
    if (parse == conditions::LineParse::kEnded)
      j["ended_at"] = U(line.substr(line.find_last_of(' ') + 1));
    j["reverse"] = parse == conditions::LineParse::kAccepted && settings.reverse;
    j["outcome"] = outcome;
    j["console"] = checker_.Console();
    j["files"] = checker_.Files();
    if (outcome != "rejected" && outcome != "ended") {
      // Counted as missing here, the file may well be there on the real machine.
      for (const Json& file : j["files"]) {
        if (!file["local"].is_null())
          continue;
        j["outcome_here"] = outcome;
        j["outcome"] = "unchecked";
        checker_.unchecked_.push_back("line " + std::to_string(line_number) + " (" +
                                      file["path"].get<std::string>() + ")");
        break;
      }
    }
    j["output"] = U(output);
    j["step_rc_before"] = rc_;
    j["step_rc_after"] = checker_.rc_.step_rc_value;
    j["variables"] = checker_.NewVariables();
    j["writes"] = checker_.Writes();
    rc_ = checker_.rc_.step_rc_value;
    finding_.clear();
    field_.reset();
    if (emit_)
      checker_.Emit(std::move(j));
  }

  // The field and how each of the line's values was compared with it, and why.
  static Json ValueRecord(const conditions::ValueField& field, const conditions::RuleSettings& s) {
    Json j;
    j["field"] = U(field.bytes);
    if (field.number != conditions::kInvalidNumber)
      j["number"] = field.number;
    j["comparisons"] = Json::array();
    const auto add = [&](const std::string& op, const std::optional<std::string>& value) {
      if (!value)
        return;
      Json c;
      c["operator"] = op;
      c["value"] = U(*value);
      const bool quoted = !value->empty() && value->front() == '"';
      if (quoted && value->size() <= 2) {
        c["as"] = "none";
        c["why"] = "the value is empty";
      } else if (quoted) {
        c["as"] = "text";
        c["why"] = "the value is in quotation marks";
      } else if (field.number == conditions::kInvalidNumber) {
        c["as"] = "text";
        c["why"] = field.bytes.find_first_of("\r\n") != std::string::npos
                       ? "the field is not a number: it holds a line end (only spaces are trimmed)"
                       : "the field is not a number (only spaces are trimmed)";
      } else {
        c["as"] = "number";
        c["why"] = "the field and the value are numbers";
      }
      j["comparisons"].push_back(std::move(c));
    };
    add(s.value_operator_1, s.value_text_1);
    add(s.value_operator_2, s.value_text_2);
    return j;
  }

  Checker& checker_;
  conditions::Pass pass_;
  bool emit_;
  conditions::RuleSettings before_;
  int32_t rc_ = 0;
  std::string finding_;
  std::optional<conditions::ValueField> field_;
};

std::string Checker::Rules(conditions::Pass pass, bool emit) {
  const conditions::ConditionLimits limits{limits_.file_buffer_size, limits_.line_width,
                                           limits_.line_limit};
  variables::ContextVariableStore store(variables_);
  conditions::ConditionContext context(limits, rc_, world_.console(), store, world_.pacer(),
                                       world_.rule_files());
  context.number_format = world_.options().number_format;
  RuleTrace trace(*this, pass, emit);
  context.observer = &trace;
  std::string messages =
      conditions::EvaluateConditions(context, state_.rule_settings, pass, state_.condition_rules);
  if (trace.failure)
    std::rethrow_exception(trace.failure);
  return messages;
}

// ------------------------------------------------------------------------------ command

// The expansion the dispatcher asks for. It never deciphers: where the runner would put a
// password's plain text (the step's command line, switch arguments) the check has "*****".
// The dispatcher asks for the deciphering expansion exactly once per line, first of all, which
// is where the check starts following a new line.
class Checker::Expanding final : public core::Expander {
 public:
  Expanding(Checker& checker, bool follow) : checker_(checker), follow_(follow) {}

  std::string Expand(std::string_view text, bool quote_empty) override {
    return variables::ExpandVariables(checker_.variables_, text, variables::kMaskPasswords,
                                      quote_empty);
  }

  core::Expansion ExpandDeciphered(std::string_view text, bool quote_empty) override {
    std::string shown = Expand(text, quote_empty);
    if (follow_) {
      Close();
      Open(text, shown);
    }
    return core::Expansion{core::SecretString(shown), std::move(shown), {}};
  }

  core::SecretString ExpandSecret(const core::SecretString& text, bool quote_empty) override {
    return variables::ExpandVariables(checker_.variables_, text, variables::kMaskPasswords,
                                      quote_empty);
  }

  // The last line's record, with what its switch (or the final save of an edit) did.
  void Close() {
    if (!open_)
      return;
    current_["console"] = checker_.Console();
    current_["files"] = checker_.Files();
    current_["variables"] = checker_.NewVariables();
    current_["writes"] = checker_.Writes();
    checker_.Emit(std::move(current_));
    open_ = false;
  }

 private:
  void Open(std::string_view text, const std::string& expanded) {
    commands::CommandLineParts parts;
    commands::ParseCommandLine(parts, expanded, checker_.world_.associations(), kRunnerDrive);
    current_ = Json();
    current_["record"] = "command_line";
    current_["line"] = ++line_;
    current_["text"] = U(text);
    current_["expanded"] = U(expanded);
    current_["program_token"] = U(parts.program_token);
    current_["parameters"] = U(parts.parameters);
    current_["switch_tail"] = U(parts.switch_tail);
    open_ = true;
  }

  Checker& checker_;
  bool follow_;
  Json current_;
  bool open_ = false;
  int line_ = 0;
};

// What the command routines see of the checked run: its variables, RC, picture settings and
// pending edit, over this machine's recording world.
commands::CommandContext Checker::Commands(core::Expander& expander, core::VariableStore& store) {
  return commands::CommandContext{
      .expander = expander,
      .variables = store,
      .console = world_.console(),
      .console_file = world_.console_file(protocol::Trimmed(task_.console_file)),
      .associations = world_.associations(),
      .files = world_.file_access(),
      .printers = world_.printers(),
      .rc = rc_,
      .state = state_.switches,
      .global_parameter_directory = state_.global_parameter_directory,
      .runner_drive = kRunnerDrive};
}

std::string Checker::Command(bool emit) {
  Expanding expander(*this, emit);
  variables::ContextVariableStore store(variables_);
  commands::CommandContext context = Commands(expander, store);
  const commands::DispatchedCommand dispatched =
      DispatchCommand(context, protocol::Trimmed(input_.command), commands::DispatchMode::kExecute);
  expander.Close();
  return variables::ExpandVariables(variables_, dispatched.shown, variables::kMaskPasswords, false);
}

// ------------------------------------------------------------------------------ decisions

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

void Checker::Notes(bool runs) {
  const Journal& journal = world_.journal();
  auto note = [this](const char* topic, std::string text) {
    Emit(Json{{"record", "note"}, {"topic", topic}, {"text", std::move(text)}});
  };
  auto list = [](const std::vector<std::string>& names, bool skip_blanks) {
    std::vector<std::string> unique;
    for (const std::string& name : names)
      if (std::find(unique.begin(), unique.end(), name) == unique.end() &&
          !(skip_blanks && name.find(' ') != std::string::npos))
        unique.push_back(name);
    std::string out;
    for (const std::string& name : unique)
      out += (out.empty() ? "" : ", ") + U(name);
    return out;
  };
  if (!journal.associations.empty())
    note("associations",
         "not known here, so each line runs as written; on the real machine a "
         "program runs by its full path and a document by its associated program "
         "(looked up: " +
             list(journal.associations, false) + ")");
  // Names with blanks come from text such as "50% of %X%"; nobody means them as variables.
  if (const std::string misses = list(journal.environment_misses, true); !misses.empty())
    note("environment",
         "not defined by the task, so the runner looks in its own environment, "
         "which is not known here (--env NAME=VALUE): " +
             misses);
  if (!journal.environment_given.empty())
    note("environment",
         "taken from --env as the runner's own: " + list(journal.environment_given, false));
  if (journal.clock_used)
    note("clock", std::string(world_.options().now ? "date pictures use --now"
                                                   : "date pictures use this machine's clock") +
                      "; day and month names are English here, the runner's follow its user's "
                      "locale");
  if (values_compared_)
    note("number format", std::string("V= fields are read with \"") +
                              world_.options().number_format.decimal_separator +
                              "\" as the decimal separator here; the runner uses its user's locale "
                              "(--decimal-separator)");
  if (folded_high_bytes_)
    note("case", "folding covers A to Z only here; the runner folds every letter of its code page");
  if (attributes_tested_)
    note("attributes",
         "files count as archive, not system or hidden, here (read-only when not "
         "writable); on the real machine their own attributes decide, and a hidden "
         "or system file counts as missing");
  if (job_log_read_after_)
    note("job log",
         "the runner's rules after the step read the job log as it was when they "
         "began; a log saved at the end also holds the runner's later lines, whose "
         "notes quote the search texts (search it forward to find the step's own "
         "lines first)");
  if (exclusive_open_)
    note("exclusive open",
         "F=(W, ...) fails on the real machine while another process has the "
         "file open; here files are only read");
  bool relative = false;
  bool short_name = false;
  for (const FileLookup& lookup : journal.files) {
    relative |= lookup.mapped.relative;
    short_name |= lookup.mapped.short_name;
  }
  if (relative)
    note("current directory",
         world_.drives().current_directory().empty()
             ? "relative names are looked up in the runner's current directory, which its parent "
               "chooses (--current-directory)"
             : "relative names were looked up in " + U(world_.drives().current_directory()));
  if (short_name)
    note("short names", "8.3 names such as PROGRA~1 exist only on the real machine");
  if (journal.printers_asked)
    note("printers",
         "the printers the step's user can reach are not known here; the report "
         "holds its title only");
  if (journal.error_texts_used)
    note("error texts", "error numbers and texts are this machine's; Windows gives its own");
  if (std::any_of(table_.begin(), table_.end(), [](const std::string& entry) {
        const size_t equals = entry.find('=');
        return equals + 1 < entry.size() && entry[equals + 1] == variables::kPasswordMarker;
      }))
    note("passwords",
         "shown as ***** everywhere, also where the runner hands the plain "
         "password to the step or to a switch");
  note("rights", std::string(journal.writes.empty() ? "" : "no write above was made; ") +
                     "files are read with your rights here, on the real machine the runner's "
                     "account and the folders' access lists decide");
  if (runs)
    note("launch",
         "not checked: the logon, the user's profile, whether the program exists and "
         "starts");
}

// The "Command=" line of the job log: the command as written, or resolved after "/X5?".
std::string Checker::JobLogCommand() {
  Expanding quiet(*this, false);
  variables::ContextVariableStore store(variables_);
  commands::CommandContext context = Commands(quiet, store);
  return DispatchCommand(context,
                         variables::ExpandVariables(variables_, input_.command,
                                                    variables::kMaskPasswords, false),
                         state_.switches.show_resolved ? commands::DispatchMode::kShowResolved
                                                       : commands::DispatchMode::kShowAsWritten)
      .shown;
}

// The sequence's stages carried out in the check's world, each shown as it is carried out.
class Checker::Stages final : public sequence::World {
 public:
  Stages(Checker& checker, bool before) : checker_(checker), before_(before) {}

  // The step runs here unless the sequence decides otherwise: the launch is not checked.
  bool OpenConsole() override { return true; }

  void SetStepVariables() override {
    checker_.Variables();
    checker_.state_.condition_rules = variables::ExpandVariables(
        checker_.variables_, checker_.input_.conditions, variables::kMaskPasswords, false);
    if (!checker_.state_.condition_rules.empty())
      checker_.Emit(Json{{"record", "rules"}, {"text", U(checker_.state_.condition_rules)}});
  }

  std::string EvaluateRules(sequence::Pass pass) override {
    if (pass == sequence::Pass::kBeforeStep)
      return checker_.Rules(conditions::Pass::kBeforeStep, before_);
    return checker_.Rules(conditions::Pass::kAfterStep, true);
  }

  // Nothing here asks for a stop.
  bool KilledInChecks() override { return false; }

  sequence::Command DispatchCommand() override {
    command_ = checker_.Command(before_);
    if (!before_) {
      checker_.Skip();
      checker_.Emit(Json{{"record", "remark"},
                         {"text",
                          "The rules before the step and the command's switches were carried out "
                          "too (not shown): the rules after the step start from what they left."}});
    }
    return sequence::Command{command_.size(), command_};
  }

  void AddVariable(std::string_view name, std::string_view value) override {
    x5::variables::AddVariable(checker_.variables_, name, value);
    // Defined for the step, not by anything the task wrote.
    checker_.table_mark_ = checker_.table_.size();
  }

  sequence::Launched Launch() override {
    return sequence::Launched{true, std::string(protocol::kStatusStepOk), 1};
  }

  void ConsoleText(std::string_view text) override {
    if (text.ends_with("\r\n"))
      text.remove_suffix(2);
    checker_.world_.console().Line(text);
    checker_.Emit(Json{{"record", "console"}, {"lines", checker_.Console()}});
  }

  void SetStatus(std::string_view text, int32_t /*code*/) override {
    checker_.status_text_ = protocol::Trimmed(text);
  }

  // The job log block, the console file, then (from the sequence) the rules after the step.
  void SaveConsoleFile() override {
    checker_.Emit(Json{{"record", "job_log"}, {"line", U("Command=" + checker_.JobLogCommand())}});
    checker_.world_.console_file(protocol::Trimmed(checker_.task_.console_file)).Save();
    checker_.EmitWrites();
  }

  void Decided(sequence::Pass pass,
               sequence::Decision decision,
               std::string_view message) override {
    if (pass == sequence::Pass::kAfterStep) {
      checker_.Decide("after", std::string(message));
      return;
    }
    checker_.Emit(Json{{"record", "command"}, {"command_line", U(command_)}});
    if (decision == sequence::Decision::kNoCommand) {
      checker_.Decide("before", std::string(message), "there is no command to run");
    } else if (decision == sequence::Decision::kCommandTooLong) {
      checker_.warnings_.push_back("the command line is " + std::to_string(command_.size()) +
                                   " characters long; the system starts at most " +
                                   std::to_string(commands::kLongestCommandLine) +
                                   ", so the runner refuses it (\"" +
                                   std::string(protocol::kStatusNotStarted) + "\", code " +
                                   std::to_string(commands::kCommandTooLongCode) + ")");
      checker_.Decide("before", std::string(message),
                      "the step does not start: its command line is too long");
    } else {
      checker_.Decide("before", std::string(message));
    }
  }

 private:
  Checker& checker_;
  bool before_;
  std::string command_;
};

int Checker::Run(CheckOptions::Sections sections) {
  const bool before = sections != CheckOptions::Sections::kAfter;
  const bool after = sections != CheckOptions::Sections::kBefore;

  const Json fields = text::TaskObject(task_, {});
  Json task;
  task["record"] = "task";
  for (const char* key : {"job_name", "job_number", "step_number", "step_directory", "user_name",
                          "maximum_rc", "task_rc", "step_minimum_rc", "step_maximum_rc"})
    task[key] = fields[key];
  task["abend_mode"] = rc_.abend_mode;
  task["step_rc_value"] = rc_.step_rc_value;
  Emit(std::move(task));

  Stages stages(*this, before);
  const sequence::Decision decision = sequence::BeforeStep(stages, outcome_);
  const bool runs = decision == sequence::Decision::kRuns;
  if (decision == sequence::Decision::kMaximumRcZero) {
    verdict_ = "the task cannot run: its maximum RC is 0";
  } else if (after) {
    if (!runs)
      Emit(Json{{"record", "remark"},
                {"text",
                 "On these files the step would not run; the rules after the step are "
                 "evaluated as if it had."}});
    sequence::AfterStep(stages, outcome_, false);
    status_text_.clear();
  }
  const char flag = rc_.result_flag;
  const int32_t current = rc_.current_rc;
  const std::string report_text = sequence::FinalReportText(outcome_);
  if (flag == 'S')
    Emit(Json{{"record", "remark"},
              {"text", "A skipped step is reported with result flag \"+\" and status \"" +
                           std::string(protocol::kStatusNotRun) + "\"."}});
  if (rc_.current_rc != current)
    Emit(Json{{"record", "remark"},
              {"text", "In abend mode the final reports carry at least the task RC: current RC " +
                           std::to_string(current) + " becomes " + std::to_string(rc_.current_rc) +
                           "."}});
  Json report;
  report["record"] = "report_text";
  report["text"] = U(report_text);
  Emit(std::move(report));
  Notes(runs);
  // The status the parent would read from the final report, by the table `exec` exits by.
  protocol::StepReport predicted;
  predicted.status_text =
      protocol::Padded(status_text_.empty() ? protocol::kStatusStepOk : status_text_, 8);
  predicted.current_rc = rc_.current_rc;
  predicted.result_flag = rc_.result_flag;
  int status = step::OutcomeOfFinalReport(predicted).status;
  Json outcome;
  outcome["record"] = "outcome";
  if (!unchecked_.empty()) {
    status = kCheckUnchecked;
    outcome["unchecked"] = unchecked_;
  }
  if (!warnings_.empty())
    outcome["warnings"] = warnings_;
  outcome["status_text"] = status_text_;
  outcome["current_rc"] = rc_.current_rc;
  outcome["result_flag"] = Flag(rc_.result_flag);
  outcome["verdict"] = verdict_;
  outcome["exit_status"] = status;
  Emit(std::move(outcome));
  return status;
}

}  // namespace

namespace {

int Check(const CheckOptions& options, std::ostream& out, std::ostream& errors) {
  core::Result<text::TaskFile> loaded =
      text::LoadTaskFile(options.task_path, &text::EncipherPasswordField);
  if (!loaded) {
    errors << text::ProblemLine(loaded.failure().text);
    return kCheckUsage;
  }

  DriveMap drives;
  const fs::path base = options.base.empty() ? fs::current_path() : options.base;
  for (const std::string& mapping : options.drives) {
    if (core::Result<void> added = drives.Add(mapping, base); !added) {
      errors << text::ProblemLine(added.failure().text);
      return kCheckUsage;
    }
  }
  WorldOptions world;
  if (!options.current_directory.empty()) {
    core::Result<std::string> current = text::AnsiFromUtf8(options.current_directory);
    if (!current) {
      errors << text::ProblemLine("--current-directory: " + current.failure().text);
      return kCheckUsage;
    }
    while (current->size() > 3 && (current->back() == '\\' || current->back() == '/'))
      current->pop_back();
    drives.SetCurrentDirectory(*current);
  }
  for (const std::string& assignment : options.environment) {
    const size_t equals = assignment.find('=');
    const core::Result<std::string> ansi = text::AnsiFromUtf8(assignment);
    if (equals == std::string::npos || equals == 0 || !ansi) {
      errors << text::ProblemLine("--env \"" + assignment + "\": write NAME=VALUE");
      return kCheckUsage;
    }
    std::string name = ansi->substr(0, equals);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
    world.environment[name] = ansi->substr(equals + 1);
  }
  if (!options.now.empty()) {
    world.now = ParseNow(options.now);
    if (!world.now) {
      errors << text::ProblemLine("--now \"" + options.now + "\": write YYYY-MM-DD HH:MM:SS");
      return kCheckUsage;
    }
  }
  if (options.decimal_separator != '.' && options.decimal_separator != ',') {
    errors << "x5ctl: --decimal-separator is \".\" or \",\"\n";
    return kCheckUsage;
  }
  world.number_format.decimal_separator = options.decimal_separator;
  world.number_format.thousands_separator = options.decimal_separator == '.' ? ',' : '.';

  const RunnerInput input = ReadAsRunner(loaded->Stream());
  Checker checker(input, drives, std::move(world));
  Json head;
  head["record"] = "check";
  head["task"] = options.task_path;
  head["drives"] = Json::array();
  for (const DriveMap::Entry& entry : drives.entries())
    head["drives"].push_back(Json{{"drive", U(entry.prefix)}, {"folder", entry.given}});
  if (!drives.current_directory().empty())
    head["current_directory"] = U(drives.current_directory());
  checker.records.push_back(std::move(head));
  const int status = checker.Run(options.sections);

  if (options.json) {
    for (const Json& record : checker.records)
      out << text::JsonLine(record) << "\n";
  } else {
    WriteCheckText(checker.records, out);
  }
  return status;
}

}  // namespace

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& errors) {
  try {
    return Check(options, out, errors);
  } catch (const std::exception& e) {
    errors << text::ProblemLine(std::string("the check could not be completed: ") + e.what());
  } catch (...) {
    errors << "x5ctl: the check could not be completed\n";
  }
  return kCheckUnchecked;
}

std::function<int()> SetUpCheckCommand(CLI::App& check,
                                       std::ostream& out,
                                       std::ostream& errors,
                                       const std::filesystem::path& base) {
  auto options = std::make_shared<CheckOptions>();
  options->base = base;
  check.footer(
      "Runs the runner's own code on the task without running the step: the step variables,\n"
      "the condition rules against files on this machine, the command's switches and lines, and\n"
      "the return-code decision, with the runner's own messages. Windows paths reach local files\n"
      "through --drive mappings only; a path no mapping covers is not found, as on a missing\n"
      "drive. Nothing is written, deleted or deciphered: switches are followed, not carried out,\n"
      "and passwords stay *****. What the real machine may do differently is said at the end.\n"
      "It exits with the status `x5ctl exec` would exit with for the final report it "
      "predicts.\n\n" +
      std::string(step::kStepExitStatusHelp));
  check.add_option("task", options->task_path, "Task file (TOML)")->required();
  check
      .add_option("--drive", options->drives,
                  "A drive of the runner on this machine: C=DIR or \\\\server\\share=DIR")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  check.add_option("--current-directory", options->current_directory,
                   "The runner's current directory (a Windows path), for relative names");
  check
      .add_option("--env", options->environment,
                  "NAME=VALUE in the runner's own environment (for %NAME% the task does not "
                  "define)")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  check.add_option("--now", options->now, "The time for date pictures: \"YYYY-MM-DD HH:MM:SS\"");
  check
      .add_option("--decimal-separator", options->decimal_separator,
                  "The decimal separator of the runner's locale, \".\" or \",\"")
      ->default_str(".");
  auto sections = std::make_shared<std::pair<bool, bool>>();  // --after, --both
  CLI::Option* after_flag =
      check.add_flag("--after", sections->first, "Evaluate the rules after the step instead");
  check.add_flag("--both", sections->second, "Evaluate the rules before and after the step")
      ->excludes(after_flag);
  check.add_flag("--json", options->json, "One JSON object per line");
  return [options, sections, &out, &errors] {
    if (sections->second)
      options->sections = CheckOptions::Sections::kBoth;
    else if (sections->first)
      options->sections = CheckOptions::Sections::kAfter;
    return RunCheck(*options, out, errors);
  };
}

}  // namespace x5::ctl::check
