// Return-code rules: abend mode and the step's run/skip/end decision (their messages are the
// protocol catalogue's).
#pragma once

#include <cstdint>

namespace x5::core {

// The result flag the reports carry; the byte a report sends is the enumerator's character.
enum class ResultFlag : char {
  kGoesOn = '+',   // the step may run, or it ran and the job goes on
  kStopped = '-',  // the job ends as requested (current RC 0) or the step abends
  kSkipped = 'S',  // the RC lies outside the step's range; the final reports say '+'
};

// The byte of a report's result flag field.
constexpr char FlagByte(ResultFlag flag) noexcept {
  return static_cast<char>(flag);
}

// The return-code state of one run. Limits come from the task record; the rest is decided here,
// by condition checks and by internal commands.
struct RcState {
  int32_t maximum_rc = 0;
  int32_t task_rc = 0;
  int32_t step_minimum_rc = 0;
  int32_t step_maximum_rc = 0;
  bool abend_mode = false;
  int32_t step_rc_value = 0;  // handed to the step as X5RC
  int32_t current_rc = 0;     // sent in every report
  ResultFlag result_flag = ResultFlag::kGoesOn;
};

// What an application of the rules decided.
enum class RcDecision {
  kRuns,     // "+": the step may run (before it), or it ran and the job goes on (after it)
  kEnded,    // "-" with current RC 0: the job ends as requested
  kAbended,  // "-": the current RC is above the maximum RC
  kSkipped,  // "S": the RC lies outside the step's range
};

// Decides abend mode and the step RC value; true in abend mode.
bool SetupAbendMode(RcState& rc);

// Applies the rules to the step RC value: sets the current RC and the result flag.
RcDecision ApplyRcRules(RcState& rc);

// No command remains to run ("Null CMD"): a current RC of 1 becomes 2. True when it did.
bool NoCommandRc(RcState& rc);

// Before the final reports: 'S' becomes '+', and in abend mode current RC is raised to task RC.
void FinalRcAdjustment(RcState& rc);

// Raises the step RC value after a failed internal command (SET, replace), so the step counts as
// failed: only when it is at least 1 and below a step maximum RC that is itself below 99.
void RaiseStepRcAfterFailedCommand(RcState& rc);

}  // namespace x5::core
