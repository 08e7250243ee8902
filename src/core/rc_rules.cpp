// Return-code rules: abend mode and the run/skip/end decision.
#include "core/rc_rules.h"

namespace x5::core {

bool SetupAbendMode(RcState& rc) {
  rc.abend_mode = rc.task_rc > rc.maximum_rc;
  rc.step_rc_value = rc.abend_mode ? 1 : rc.task_rc;
  return rc.abend_mode;
}

RcDecision ApplyRcRules(RcState& rc) {
  rc.current_rc = rc.step_rc_value;
  if (rc.current_rc == 0) {
    rc.result_flag = ResultFlag::kStopped;
    return RcDecision::kEnded;
  }
  // In abend mode the step's range is tested against the task RC, not the current RC.
  const int32_t ranged = rc.abend_mode ? rc.task_rc : rc.current_rc;
  if (!rc.abend_mode && rc.current_rc > rc.maximum_rc) {
    rc.result_flag = ResultFlag::kStopped;
    return RcDecision::kAbended;
  }
  if (rc.step_minimum_rc <= ranged && ranged <= rc.step_maximum_rc) {
    rc.result_flag = ResultFlag::kGoesOn;
    return RcDecision::kRuns;
  }
  rc.result_flag = ResultFlag::kSkipped;
  return RcDecision::kSkipped;
}

bool NoCommandRc(RcState& rc) {
  if (rc.current_rc != 1)
    return false;
  rc.current_rc = 2;
  return true;
}

void FinalRcAdjustment(RcState& rc) {
  if (rc.result_flag == ResultFlag::kSkipped)
    rc.result_flag = ResultFlag::kGoesOn;
  if (rc.abend_mode && rc.task_rc > rc.current_rc)
    rc.current_rc = rc.task_rc;
}

void RaiseStepRcAfterFailedCommand(RcState& rc) {
  if (rc.step_rc_value >= 1 && rc.step_rc_value < rc.step_maximum_rc && rc.step_maximum_rc < 99) {
    rc.step_rc_value = rc.step_maximum_rc + 1;
  }
}

}  // namespace x5::core
