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

inline constexpr int kExecSucceeded = 0;     // the step ran and the RC rules let the job go on
inline constexpr int kExecHighestRc = 119;   // a failed step exits with its current RC, 1..119
inline constexpr int kExecEnded = 120;       // ended as requested: current RC 0, result flag "-"
inline constexpr int kExecSkipped = 121;     // "RC <>" with flag "+": the RC rules skipped the step
inline constexpr int kExecNoCommand = 122;   // "Null CMD": no command line remained
inline constexpr int kExecNotStarted = 123;  // the runner could not be started (or usage error)
inline constexpr int kExecTimedOut = 124;    // the runner did not answer in time (it was killed)
inline constexpr int kExecBrokeOff = 125;    // the runner broke off the conversation
inline constexpr int kExecSignalBase = 128;  // 128 + N: stopped by signal N, the step was killed
// x5ctl's own, outside the step's outcomes: options or task file not understood (as a step that
// did not start), and what `check` could not check.
inline constexpr int kStepExitUsage = kExecNotStarted;
inline constexpr int kStepExitUnchecked = 126;

// The table above for a subcommand's help: `run`, `exec` and `check` exit by it.
inline const std::string kStepExitStatusHelp =
    std::string(R"(Exit status, the same table for run, exec and check:
  0       the step ran (check: would run) and the job goes on
  1..119  the step failed, or abended, with that current RC (above 119: 119)
  120     the job ends as requested (current RC 0, result flag "-")
  121     the step was skipped: ")") +
    std::string(protocol::kStatusNotRun) + R"(", the RC lies outside its range
  122     ")" +
    std::string(protocol::kStatusNoCommand) + R"(": no command line remained
  123     the step did not start: the runner could not be started, or the
          options or the task file were not understood
  124     the runner did not answer in time (it was killed)
  125     the runner broke off the conversation (run and exec: also a step
          that ran and would give 0 when a --capture file was not written)
  126     check only: not checked, a file a rule reads lies where no --drive
          mapping reaches (or the check could not be completed)
  128+N   exec only: stopped by signal N; a running step was killed)";

struct ExecOutcome {
  int status = kExecBrokeOff;
  std::string meaning;  // one line for people: what the status says about this step
};

// What a final report (phase 4 or 5) says about its step; the status text decides first:
//   "STEP OK", flag "+"           the step ran and the job goes on               0
//   "STEP OK" or "RC <>", flag "-" with current RC 0: ended as requested        120
//                                  with another RC: abended                      current RC, 1..119
//   "RC <>", flag "+"             skipped: the RC lies outside the step's range  121
//   "Null CMD"                    no command line remained                       122
//   any other status text         the step could not run, or its end is unsure  current RC, 1..119
//     ("STEP ?", "FILE ?", "CONSOLE?", "RC = 0", a failed launch such as "LOGON ?" or "STEP=?")
[[nodiscard]] ExecOutcome OutcomeOfFinalReport(const protocol::StepReport& report);

// The whole outcome of `x5ctl exec`. A stop signal (the number x5ctl was stopped with, 0 for none)
// outranks the report: a killed step's final report still reads "STEP OK". Without one, a
// conversation that did not complete gives the runner's own failure statuses.
[[nodiscard]] ExecOutcome OutcomeOfExec(ConversationEnd end,
                                        const std::optional<protocol::StepReport>& final_report,
                                        int stop_signal);

// The exit code of the step's main process, which the final report carries beside the status
// text; known only when the step ran and was waited for ("STEP OK").
[[nodiscard]] std::optional<uint32_t> StepExitCodeOf(const protocol::StepReport& report);

// The outcome with the step's exit code named. With `fail_on_exit_code`, a step that ran and let
// the job go on (status 0) but whose main process ended with a code other than 0 fails with that
// code as its status (1..119, as a failed RC: above the band gives 119). A stop signal still
// outranks it: the killed step ends with the kill code.
[[nodiscard]] ExecOutcome WithStepExitCode(ExecOutcome outcome,
                                           const std::optional<protocol::StepReport>& final_report,
                                           int stop_signal,
                                           bool fail_on_exit_code);

}  // namespace x5::ctl::step
