// Return-code rules: abend mode, the step's run/skip/end decision and the task messages.
#pragma once

#include <cstdint>
#include <string>

namespace x5::core {

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
  char result_flag = '+';     // '+' runs, '-' ended/abended, 'S' skipped
};

// Decides abend mode and the step RC value; returns the warning that starts the pre-step
// messages (empty when not in abend mode).
std::string SetupAbendMode(RcState& rc);

// Applies the rules to the step RC value; returns `messages` with the outcome's message appended.
std::string ApplyRcRules(RcState& rc, std::string messages);

// No command remains to run ("Null CMD"): a current RC of 1 becomes 2. Returns the console line
// that says so, with its line end.
std::string NoCommandRc(RcState& rc);

// Before the final reports: 'S' becomes '+', and in abend mode current RC is raised to task RC.
void FinalRcAdjustment(RcState& rc);

// Raises the step RC value after a failed internal command (SET, replace), so the step counts as
// failed: only when it is at least 1 and below a step maximum RC that is itself below 99.
void RaiseStepRcAfterFailedCommand(RcState& rc);

}  // namespace x5::core
