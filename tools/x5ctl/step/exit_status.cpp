// The exit status table of `x5ctl exec`.
#include "x5ctl/step/exit_status.h"

#include <algorithm>
#include <cstdio>

#include "protocol/status_texts.h"
#include "sequence/step_end.h"

namespace x5::ctl::step {
namespace {

std::string RcText(int32_t rc) {
  return "current RC " + std::to_string(rc);
}

// Below 1 would read as success, above the band would read as one of x5ctl's own statuses.
ExecOutcome Failed(const protocol::StepReport& report, const std::string& why) {
  const int status = static_cast<int>(std::clamp<int32_t>(report.current_rc, 1, kExecHighestRc));
  std::string meaning = why + " (" + RcText(report.current_rc) + ")";
  if (status != report.current_rc)
    meaning += "; exit status " + std::to_string(status) + " stands for it";
  return {status, meaning};
}

}  // namespace

ExecOutcome OutcomeOfFinalReport(const protocol::StepReport& report) {
  const sequence::FinalReading read =
      sequence::ReadFinalReport(report.status_text, report.result_flag, report.current_rc);
  const std::string when = read.before_step ? "before the step" : "after the step";
  switch (read.end) {
    case sequence::StepEnd::kRan:
      return {kExecSucceeded,
              "the step ran and the job goes on (" + RcText(report.current_rc) + ")"};
    case sequence::StepEnd::kEnded:
      return {kExecEnded, "the job was ended as requested " + when + " (" + RcText(0) + ")"};
    case sequence::StepEnd::kAbended:
      return Failed(report, "the step abended " + when + ": its RC is above the maximum RC");
    case sequence::StepEnd::kSkipped:
      return {kExecSkipped, "the step was not executed: the RC lies outside its range (" +
                                RcText(report.current_rc) + ")"};
    case sequence::StepEnd::kNoCommand:
      return {kExecNoCommand,
              "no command line remained to run (" + RcText(report.current_rc) + ")"};
    case sequence::StepEnd::kFailed:
      break;
  }
  return Failed(report, "the step did not end normally: status \"" + report.status_text +
                            "\", flag \"" + std::string(1, report.result_flag) + "\"");
}

std::string PredictedOutcome(const protocol::StepReport& report) {
  const sequence::FinalReading read =
      sequence::ReadFinalReport(report.status_text, report.result_flag, report.current_rc);
  switch (read.end) {
    case sequence::StepEnd::kRan:
      return "the step runs and the job goes on";
    case sequence::StepEnd::kEnded:
      return read.before_step ? "the job ends as requested before the step"
                              : "the job ends as requested after the step";
    case sequence::StepEnd::kAbended:
      return read.before_step ? "the step abends before it runs" : "the step abends";
    case sequence::StepEnd::kSkipped:
      return "the step is skipped";
    case sequence::StepEnd::kNoCommand:
      return "there is no command to run";
    case sequence::StepEnd::kFailed:
      break;
  }
  return "the step fails: status \"" + protocol::Trimmed(report.status_text) + "\"";
}

ExecOutcome OutcomeOfExec(ConversationEnd end,
                          const std::optional<protocol::StepReport>& final_report,
                          int stop_signal,
                          double time_limit_seconds) {
  if (time_limit_seconds > 0 && stop_signal == 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", time_limit_seconds);
    return {kExecTimeLimit,
            std::string("the step ran past its time limit of ") + seconds + " s and was sent KILL"};
  }
  if (stop_signal > 0) {
    return {kExecSignalBase + stop_signal, "stopped from outside by signal " +
                                               std::to_string(stop_signal) +
                                               " (a step still running was sent KILL)"};
  }
  switch (end) {
    case ConversationEnd::kNotStarted:
      return {kExecNotStarted, "the runner could not be started"};
    case ConversationEnd::kTimedOut:
      return {kExecTimedOut, "the runner did not answer in time and was killed"};
    case ConversationEnd::kBrokeOff:
    case ConversationEnd::kInterrupted:
      return {kExecBrokeOff, "the runner broke off the conversation"};
    case ConversationEnd::kCompleted:
      break;
  }
  if (!final_report)
    return {kExecBrokeOff, "the runner ended without a final report"};
  return OutcomeOfFinalReport(*final_report);
}

std::optional<uint32_t> StepExitCodeOf(const protocol::StepReport& report) {
  if (!protocol::IsFinal(report.phase) ||
      protocol::Trimmed(report.status_text) != protocol::kStatusStepOk)
    return std::nullopt;
  return static_cast<uint32_t>(report.step_exit_code);
}

ExecOutcome WithStepExitCode(ExecOutcome outcome,
                             const std::optional<protocol::StepReport>& final_report,
                             int stop_signal,
                             bool fail_on_exit_code) {
  if (!final_report)
    return outcome;
  const std::optional<uint32_t> exit_code = StepExitCodeOf(*final_report);
  if (!exit_code)
    return outcome;
  const uint32_t code = *exit_code;
  std::string text = "step exit code " + std::to_string(code);
  if (code > 0xFFFF) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%08X)", code);
    text += hex;
  }
  if (fail_on_exit_code && code != 0 && stop_signal == 0 && outcome.status == kExecSucceeded) {
    outcome.status =
        code > static_cast<uint32_t>(kExecHighestRc) ? kExecHighestRc : static_cast<int>(code);
    outcome.meaning = "the step ran but its main process failed: " + text + " (" +
                      RcText(final_report->current_rc) + "; --fail-on-exit-code)";
    if (outcome.status != static_cast<int>(code))
      outcome.meaning += "; exit status " + std::to_string(outcome.status) + " stands for it";
    return outcome;
  }
  outcome.meaning += "; " + text;
  return outcome;
}

}  // namespace x5::ctl::step
