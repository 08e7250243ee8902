// The checker of `x5ctl check`: the runner's own sequence carried out on a task in a world that
// only reads and records, with what each stage did kept as records (the same as --json prints).
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "conditions/rule_language.h"
#include "core/rc_rules.h"
#include "protocol/protocol.h"
#include "protocol/task_values.h"
#include "sequence/main_sequence.h"
#include "sequence/step_state.h"
#include "variables/variables.h"
#include "x5ctl/check/check.h"
#include "x5ctl/check/check_world.h"

namespace x5::ctl::check {

using Json = nlohmann::ordered_json;

struct RunnerInput {
  protocol::TaskRecord task;
  std::string command;
  std::string conditions;
  std::string variables;
  char delimiter = ';';
};

// The task record and the blocks as the runner reads them from the bytes a parent sends.
RunnerInput ReadAsRunner(const std::vector<uint8_t>& stream);

// Text in the runner's ANSI bytes as UTF-8, for the records.
std::string U(std::string_view ansi);
// Whether the table entry "NAME=value" defines `name`.
bool SameName(std::string_view entry, std::string_view name);
std::string Flag(core::ResultFlag flag);
// The control characters of a text and their columns ("a TAB at column 9, a line feed at column
// 13"); empty when there is none.
std::string ControlCharacters(std::string_view text);
// What usually puts them there, after ControlCharacters' list.
inline constexpr std::string_view kControlHint =
    ": a TOML basic string (in double quotes) turns \\t, \\n and the like in a Windows path into "
    "them; write such paths in single quotes ('C:\\temp\\new.log')";

// The check takes the task's picture interval as written; it takes no pictures.
inline sequence::StepState StateOf(const protocol::TaskRecord& task) {
  sequence::StepState state;
  state.switches.picture_interval = task.picture_interval;
  return state;
}

// The runner's sequence carried out on one task in the recording world, kept as records.
class Checker {
 public:
  Checker(const RunnerInput& input, const DriveMap& drives, WorldOptions world)
      : input_(input), world_(drives, std::move(world)) {}

  // Carries out the runner's whole sequence, showing the sections asked for; returns the exit
  // status `x5ctl exec` would give the final report it predicts.
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
  // Records what a stage of the sequence decided; `rules_shown` when its rules were shown.
  void Decide(sequence::Pass pass,
              sequence::Decision decision,
              core::RcDecision rules,
              std::string_view message,
              bool rules_shown);
  std::string JobLogCommand();
  commands::CommandContext Commands(core::Expander& expander, core::VariableStore& store);
  void Notes(bool runs);
  // A line the runner itself wrote into the job log among its first `lines` console lines (or its
  // "Command=" line) that holds `text`, folded as the rule folds it; empty when none does.
  std::string OwnJobLogLine(std::string_view text, bool case_folding, size_t lines) const;

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
  std::string status_text_;      // what the sequence last gave the reports
  std::string job_log_command_;  // the job log's "Command=" line
  // Rule lines whose file no mapping reaches: "line 2 (C:\\data\\in.txt)".
  std::vector<std::string> unchecked_;
  // What works differently from how the task reads: said in the summary.
  std::vector<std::string> warnings_;

  size_t after_rule_lines_ = 0;  // rule lines of the pass after the step, shown or not

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

}  // namespace x5::ctl::check
