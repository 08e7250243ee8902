// Return-code rules: abend mode, the run/skip/end decision and the task messages.
#include "core/rc_rules.h"

namespace x5::core {
namespace {
constexpr const char* kLineEnd = "\r\n";
}

std::string SetupAbendMode(RcState& rc) {
  if (rc.task_rc > rc.maximum_rc) {
    rc.abend_mode = true;
    rc.step_rc_value = 1;
    return "***** WARNING - ABEND MODE, Task RC= " + std::to_string(rc.task_rc) + " *****\r\n\r\n";
  }
  rc.abend_mode = false;
  rc.step_rc_value = rc.task_rc;
  return {};
}

std::string ApplyRcRules(RcState& rc, std::string messages) {
  rc.current_rc = rc.step_rc_value;
  const std::string current = std::to_string(rc.current_rc);
  const std::string max = std::to_string(rc.maximum_rc);
  if (rc.current_rc == 0) {
    rc.result_flag = '-';
    messages += kLineEnd;
    messages += "***** Task ENDED as requested *****, Step RC=" + current + "  / Max RC=" + max;
    messages += kLineEnd;
    return messages;
  }
  // In abend mode the step's range is tested against the task RC, not the current RC.
  const int32_t ranged = rc.abend_mode ? rc.task_rc : rc.current_rc;
  if (!rc.abend_mode && rc.current_rc > rc.maximum_rc) {
    rc.result_flag = '-';
    messages += kLineEnd;
    messages += "***** Task Step ABENDED *****, Step RC=" + current + "  / Max RC=" + max;
    messages += kLineEnd;
    return messages;
  }
  if (rc.step_minimum_rc <= ranged && ranged <= rc.step_maximum_rc) {
    rc.result_flag = '+';
    return messages;
  }
  rc.result_flag = 'S';
  messages += "***** Task Step NOT executed *****, Step RC=" + current +
              "  / Step Min=" + std::to_string(rc.step_minimum_rc) +
              " Max=" + std::to_string(rc.step_maximum_rc) + "  / Max RC=" + max;
  messages += kLineEnd;
  return messages;
}

std::string NoCommandRc(RcState& rc) {
  if (rc.current_rc == 1) {
    rc.current_rc = 2;
    return "***** No command to execute - current RC=1 new RC=2 *****\r\n";
  }
  return "***** No command to execute current RC=" + std::to_string(rc.current_rc) + " *****\r\n";
}

void FinalRcAdjustment(RcState& rc) {
  if (rc.result_flag == 'S')
    rc.result_flag = '+';
  if (rc.abend_mode && rc.task_rc > rc.current_rc)
    rc.current_rc = rc.task_rc;
}

void RaiseStepRcAfterFailedCommand(RcState& rc) {
  if (rc.step_rc_value >= 1 && rc.step_rc_value < rc.step_maximum_rc && rc.step_maximum_rc < 99) {
    rc.step_rc_value = rc.step_maximum_rc + 1;
  }
}

}  // namespace x5::core
