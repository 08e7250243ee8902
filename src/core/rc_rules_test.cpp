// The return-code rules over the table of outcomes, with the exact message texts.
#include "core/rc_rules.h"

#include <gtest/gtest.h>

namespace x5::core {
namespace {

TEST(RcRules, DecideFlagAndMessage) {
  struct Case {
    const char* name;
    int32_t max_rc, task_rc, min, max;
    int32_t checked_rc;  // step RC value at the rule after checks; INT32_MIN = untouched
    bool abend;
    char flag;
    const char* appended;
    const char* final;  // flag and RC after the final adjustment
  };
  const Case cases[] = {
      {"runs", 4, 1, 1, 4, INT32_MIN, false, '+', "", "+1"},
      {"ended", 4, 0, 1, 4, INT32_MIN, false, '-',
       "\r\n***** Task ENDED as requested *****, Step RC=0  / Max RC=4\r\n", "-0"},
      {"abend_skipped", 4, 5, 1, 4, INT32_MIN, true, 'S',
       "***** Task Step NOT executed *****, Step RC=1  / Step Min=1 Max=4  / Max RC=4\r\n", "+5"},
      {"abend_in_range", 4, 5, 5, 8, INT32_MIN, true, '+', "", "+5"},
      {"skipped", 4, 3, 1, 2, INT32_MIN, false, 'S',
       "***** Task Step NOT executed *****, Step RC=3  / Step Min=1 Max=2  / Max RC=4\r\n", "+3"},
      {"abended_by_check", 4, 2, 1, 4, 6, false, '-',
       "\r\n***** Task Step ABENDED *****, Step RC=6  / Max RC=4\r\n", "-6"},
      {"at_maximum_runs", 4, 2, 1, 4, 4, false, '+', "", "+4"},
      {"negative_skipped", 4, 1, 1, 4, -7, false, 'S',
       "***** Task Step NOT executed *****, Step RC=-7  / Step Min=1 Max=4  / Max RC=4\r\n", "+-7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RcState rc{c.max_rc, c.task_rc, c.min, c.max};
    const std::string warning = SetupAbendMode(rc);
    EXPECT_EQ(rc.abend_mode, c.abend);
    EXPECT_EQ(warning.empty(), !c.abend);
    if (c.checked_rc != INT32_MIN)
      rc.step_rc_value = c.checked_rc;
    EXPECT_EQ(ApplyRcRules(rc, "pre"), std::string("pre") + c.appended);
    EXPECT_EQ(rc.result_flag, c.flag);
    EXPECT_EQ(rc.current_rc, rc.step_rc_value);
    FinalRcAdjustment(rc);  // a skipped step reports '+'; abend mode raises the RC to the task's
    EXPECT_EQ(rc.result_flag + std::to_string(rc.current_rc), c.final);
  }
}

TEST(RcRules, AbendWarningAndNoCommandTexts) {
  RcState rc{4, 5, 1, 4};
  EXPECT_EQ(SetupAbendMode(rc), "***** WARNING - ABEND MODE, Task RC= 5 *****\r\n\r\n");
  EXPECT_EQ(rc.step_rc_value, 1);
  rc.current_rc = 1;
  EXPECT_EQ(NoCommandRc(rc), "***** No command to execute - current RC=1 new RC=2 *****\r\n");
  EXPECT_EQ(rc.current_rc, 2);
  EXPECT_EQ(NoCommandRc(rc), "***** No command to execute current RC=2 *****\r\n");
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
