// The exit status of `x5ctl exec`: a step's final report, or how the conversation with its runner
// failed, as the one number a scheduler sees. The table is documented in docs/x5ctl.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/protocol.h"
#include "protocol/status_texts.h"
#include "x5ctl/step/conversation.h"

namespace x5::ctl::step {

inline constexpr int kExecSucceeded = 0;    // the step ran and the RC rules let the job go on
inline constexpr int kExecHighestRc = 115;  // a failed step exits with its current RC, 1..115
inline constexpr int kExecTimeLimit = 116;  // exec --time-limit: time was up, the step was killed
inline constexpr int kStepExitUnchecked = 117;  // check: not checked, or not completed
inline constexpr int kExecBrokeOff = 118;       // the runner broke off the conversation
inline constexpr int kExecTimedOut = 119;       // the runner did not answer in time (it was killed)
inline constexpr int kExecEnded = 120;          // ended as requested: current RC 0, result flag "-"
inline constexpr int kExecSkipped = 121;     // "RC <>" with flag "+": the RC rules skipped the step
inline constexpr int kExecNoCommand = 122;   // "Null CMD": no command line remained
inline constexpr int kExecNotStarted = 123;  // the runner could not be started (or usage error)
inline constexpr int kExecSignalBase = 128;  // 128 + N: stopped by signal N, the step was killed
// x5ctl's own statuses stay below 124: 124 to 127 are what timeout(1) and the shells exit with
// for their own reasons (timed out, could not run, not found), so none of theirs is taken for
// x5ctl's. Options or task file not understood count as a step that did not start.
inline constexpr int kStepExitUsage = kExecNotStarted;

// The table above for a subcommand's help: `run`, `exec` and `check` exit by it.
inline const std::string kStepExitStatusHelp =
    std::string(R"(Exit status, the same table for run, exec and check:
  0       the step ran (check: would run) and the job goes on
  1..115  the step failed, or abended, with that current RC (above 115: 115)
  116     exec only: the step ran past --time-limit and was killed (its job
          log and final report are kept)
  117     check only: not checked, a file a rule reads lies where no --drive
          mapping reaches (or the check could not be completed)
  118     the runner broke off the conversation (run and exec: also a step
          that ran and would give 0 when a --capture file was not written)
  119     the runner did not answer in time (it was killed)
  120     the job ends as requested (current RC 0, result flag "-")
  121     the step was skipped: ")") +
    std::string(protocol::kStatusNotRun) + R"(", the RC lies outside its range
  122     ")" +
    std::string(protocol::kStatusNoCommand) + R"(": no command line remained
  123     the step did not start: the runner could not be started, or the
          options or the task file were not understood
  128+N   exec only: stopped by signal N; a running step was killed
x5ctl never exits 124 to 127 itself: those come from timeout(1) or a shell.)";

struct ExecOutcome {
  int status = kExecBrokeOff;
  std::string meaning;  // one line for people: what the status says about this step
};

// What a final report (phase 4 or 5) says about its step, as sequence::ReadFinalReport reads it:
//   ran and the job goes on                      0
//   ended as requested                           120
//   abended, or the step could not run or its
//   end is unsure ("STEP ?", "FILE ?", "CONSOLE?",
//   "RC = 0", a failed launch)                   current RC, 1..115
//   skipped: the RC lies outside the step's range 121
//   no command line remained                     122
[[nodiscard]] ExecOutcome OutcomeOfFinalReport(const protocol::StepReport& report);

// The same outcome in the check's words, for a final report it predicts ("the step abends").
[[nodiscard]] std::string PredictedOutcome(const protocol::StepReport& report);

// The whole outcome of `x5ctl exec`. A stop signal (the number x5ctl was stopped with, 0 for none)
// outranks the report: a killed step's final report still reads "STEP OK"; so does a time limit
// that was up (`time_limit_seconds`, 0 for none). Without either, a conversation that did not
// complete gives the runner's own failure statuses.
[[nodiscard]] ExecOutcome OutcomeOfExec(ConversationEnd end,
                                        const std::optional<protocol::StepReport>& final_report,
                                        int stop_signal,
                                        double time_limit_seconds = 0);

// The exit code of the step's main process, which the final report carries beside the status
// text; known only when the step ran and was waited for ("STEP OK").
[[nodiscard]] std::optional<uint32_t> StepExitCodeOf(const protocol::StepReport& report);

// The outcome with the step's exit code named. With `fail_on_exit_code`, a step that ran and let
// the job go on (status 0) but whose main process ended with a code other than 0 fails with that
// code as its status (1..115, as a failed RC: above the band gives 115). A stop signal still
// outranks it: the killed step ends with the kill code.
[[nodiscard]] ExecOutcome WithStepExitCode(ExecOutcome outcome,
                                           const std::optional<protocol::StepReport>& final_report,
                                           int stop_signal,
                                           bool fail_on_exit_code);

}  // namespace x5::ctl::step
