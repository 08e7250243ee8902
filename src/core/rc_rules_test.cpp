// The return-code rules over the table of outcomes.
#include "core/rc_rules.h"

#include <gtest/gtest.h>

namespace x5::core {
namespace {

TEST(RcRules, DecideFlagAndFinalRc) {
  using D = RcDecision;
  struct Case {
    const char* name;
    int32_t max_rc, task_rc, min, max;
    int32_t checked_rc;  // step RC value at the rule after checks; INT32_MIN = untouched
    bool abend;
    D decision;
    char flag;
    const char* final;  // flag and RC after the final adjustment
  };
  const Case cases[] = {
      {"runs", 4, 1, 1, 4, INT32_MIN, false, D::kRuns, '+', "+1"},
      {"ended", 4, 0, 1, 4, INT32_MIN, false, D::kEnded, '-', "-0"},
      {"abend_skipped", 4, 5, 1, 4, INT32_MIN, true, D::kSkipped, 'S', "+5"},
      {"abend_in_range", 4, 5, 5, 8, INT32_MIN, true, D::kRuns, '+', "+5"},
      {"skipped", 4, 3, 1, 2, INT32_MIN, false, D::kSkipped, 'S', "+3"},
      {"abended_by_check", 4, 2, 1, 4, 6, false, D::kAbended, '-', "-6"},
      {"at_maximum_runs", 4, 2, 1, 4, 4, false, D::kRuns, '+', "+4"},
      {"negative_skipped", 4, 1, 1, 4, -7, false, D::kSkipped, 'S', "+-7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RcState rc{c.max_rc, c.task_rc, c.min, c.max};
    EXPECT_EQ(SetupAbendMode(rc), c.abend);
    EXPECT_EQ(rc.step_rc_value, c.abend ? 1 : c.task_rc);
    if (c.checked_rc != INT32_MIN)
      rc.step_rc_value = c.checked_rc;
    EXPECT_EQ(ApplyRcRules(rc), c.decision);
    EXPECT_EQ(FlagByte(rc.result_flag), c.flag);
    EXPECT_EQ(rc.current_rc, rc.step_rc_value);
    FinalRcAdjustment(rc);  // a skipped step reports '+'; abend mode raises the RC to the task's
    EXPECT_EQ(FlagByte(rc.result_flag) + std::to_string(rc.current_rc), c.final);
  }
  RcState no_command{4, 1, 1, 4};
  no_command.current_rc = 1;
  EXPECT_TRUE(NoCommandRc(no_command));
  EXPECT_EQ(no_command.current_rc, 2);
  EXPECT_FALSE(NoCommandRc(no_command));
}

TEST(RcRules, FailedCommandRaise) {
  struct {
    int32_t value, step_max, expected;
  } cases[] = {{2, 4, 5}, {0, 4, 0}, {4, 4, 4}, {1, 99, 1}, {1, 98, 99}, {-1, 4, -1}};
  for (auto c : cases) {
    RcState rc;
    rc.step_rc_value = c.value;
    rc.step_maximum_rc = c.step_max;
    RaiseStepRcAfterFailedCommand(rc);
    EXPECT_EQ(rc.step_rc_value, c.expected) << c.value << "/" << c.step_max;
  }
}

}  // namespace
}  // namespace x5::core
