// The world driver of `x5ctl check`: the runner's main sequence carried out through the checker's
// stages, the whole of it in every mode (the mode only chooses what is shown in detail), and the
// final report it predicts.
#include "x5ctl/check/checker.h"

#include "commands/command_split.h"
#include "protocol/status_texts.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::check {

// The sequence's stages carried out in the check's world, each shown as it is carried out when its
// section is.
class Checker::Stages final : public sequence::World {
 public:
  Stages(Checker& checker, bool show_before, bool show_after)
      : checker_(checker), show_before_(show_before), show_after_(show_after) {}

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
      return checker_.Rules(conditions::Pass::kBeforeStep, show_before_);
    const size_t lines = checker_.after_rule_lines_;
    std::string messages = checker_.Rules(conditions::Pass::kAfterStep, show_after_);
    if (!show_after_ && checker_.after_rule_lines_ > lines) {
      checker_.Skip();
      checker_.Emit(Json{{"record", "remark"},
                         {"text",
                          "The rules after the step were evaluated too, on the files as they are "
                          "now (not shown: --after or --both shows them)."}});
    }
    return messages;
  }

  // Nothing here asks for a stop.
  bool KilledInChecks() override { return false; }

  sequence::Command DispatchCommand() override {
    command_ = checker_.Command(show_before_);
    if (!show_before_) {
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

  void SetStatus(std::string_view text, std::optional<int32_t> /*code*/) override {
    checker_.status_text_ = protocol::Trimmed(text);
  }

  // The job log block and the console file, before (in the sequence) the rules after the step.
  bool SaveConsoleFile() override {
    const std::string console_file = protocol::Trimmed(checker_.task_.console_file);
    const std::string command = checker_.JobLogCommand();
    checker_.job_log_command_ = "Command=" + command;
    checker_.world_.console_file(console_file).Save();
    const auto& writes = checker_.world_.journal().writes;
    const bool fails =
        !writes.empty() && writes.back().what == "console file" && writes.back().would_fail;
    if (fails) {
      const RecordedWrite& write = writes.back();
      checker_.warnings_.push_back(
          "the console file " + U(console_file) + " cannot be written: " +
          (write.mapped.problem.empty() ? std::string("its folder does not exist")
                                        : write.mapped.problem) +
          "; the runner then ends the step \"" + std::string(protocol::kStatusConsoleFileFailed) +
          "\" (a failure), and the job log is lost");
    }
    if (show_after_) {
      checker_.Emit(Json{{"record", "job_log"}, {"line", U("Command=" + command)}});
      checker_.EmitWrites();
    }
    return !fails;
  }

  void Decided(sequence::Pass pass,
               sequence::Decision decision,
               core::RcDecision rules,
               std::string_view message) override {
    if (pass == sequence::Pass::kBeforeStep) {
      checker_.Emit(Json{{"record", "command"}, {"command_line", U(command_)}});
      if (decision == sequence::Decision::kCommandTooLong) {
        checker_.warnings_.push_back("the command line is " + std::to_string(command_.size()) +
                                     " characters long; the system starts at most " +
                                     std::to_string(commands::kLongestCommandLine) +
                                     ", so the runner refuses it (\"" +
                                     std::string(protocol::kStatusNotStarted) + "\", code " +
                                     std::to_string(commands::kCommandTooLongCode) + ")");
      }
    }
    checker_.Decide(pass, decision, rules, message,
                    pass == sequence::Pass::kBeforeStep ? show_before_ : show_after_);
  }

 private:
  Checker& checker_;
  bool show_before_;
  bool show_after_;
  std::string command_;
};

int Checker::Run(CheckOptions::Sections sections) {
  const bool show_after = sections != CheckOptions::Sections::kBefore;
  const Json fields = text::TaskObject(task_, {});
  Json task;
  task["record"] = "task";
  for (const char* key : {"job_name", "job_number", "step_number", "step_directory", "user_name",
                          "maximum_rc", "task_rc", "step_minimum_rc", "step_maximum_rc"})
    task[key] = fields[key];
  task["abend_mode"] = rc_.abend_mode;
  task["step_rc_value"] = rc_.step_rc_value;
  Emit(std::move(task));
  const std::pair<const char*, const std::string&> paths[] = {
      {"job_base_directory", task_.job_base_directory},
      {"step_directory", task_.step_directory},
      {"working_directory", task_.working_directory},
      {"console_file", task_.console_file}};
  for (const auto& [key, value] : paths)
    if (const std::string controls = ControlCharacters(value); !controls.empty())
      warnings_.push_back(std::string(key) + " holds " + controls + std::string(kControlHint));

  // The whole sequence, as the runner carries it out: what follows the launch only when the
  // sequence says the step runs.
  Stages stages(*this, sections != CheckOptions::Sections::kAfter, show_after);
  const sequence::Decision decision = sequence::BeforeStep(stages, outcome_);
  const bool runs = decision == sequence::Decision::kRuns;
  if (runs) {
    sequence::StepEnded(stages, true, 0, 0);
    sequence::AfterStep(stages, outcome_, false);
  } else if (show_after && decision != sequence::Decision::kMaximumRcZero) {
    Emit(Json{{"record", "remark"},
              {"text",
               "The step would not run, so the runner evaluates no rules after the step, and "
               "neither does the check."}});
  }
  const core::ResultFlag flag = rc_.result_flag;
  const int32_t current = rc_.current_rc;
  const std::string report_text = sequence::FinalReportText(outcome_);
  if (flag == core::ResultFlag::kSkipped)
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
  // The final report the parent would read, and what `exec` makes of it.
  protocol::StepReport predicted;
  predicted.status_text = protocol::Padded(status_text_, 8);
  predicted.current_rc = rc_.current_rc;
  predicted.result_flag = core::FlagByte(rc_.result_flag);
  predicted.phase = protocol::Phase::kWaitingForEnd;
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
  outcome["verdict"] = step::PredictedOutcome(predicted);
  outcome["exit_status"] = status;
  Emit(std::move(outcome));
  return status;
}

}  // namespace x5::ctl::check
