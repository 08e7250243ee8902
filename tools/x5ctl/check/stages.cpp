// The world driver of `x5ctl check`: the runner's main sequence carried out through the checker's
// stages, and the outcome it predicts.
#include "x5ctl/check/checker.h"

#include "x5ctl/step/exit_status.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::check {
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
               core::RcDecision /*rules*/,
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

}  // namespace x5::ctl::check
