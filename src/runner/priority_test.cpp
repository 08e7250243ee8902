// Priority codes: what they set on each system and how pairs read back.
#include "runner/priority.h"

#include <gtest/gtest.h>

#include <limits>

namespace x5::runner {
namespace {

struct SetCase {
  int32_t code;
  int32_t os;
  PriorityClass priority_class;
  int32_t thread_priority;
};

TEST(Priority, CodeSetsClassAndThread) {
  const SetCase cases[] = {
      {41, 5, PriorityClass::kHigh, kThreadLowest},
      {13, 4, PriorityClass::kNormal, kThreadNormal},  // below normal needs OS 5
      {13, 5, PriorityClass::kBelowNormal, kThreadNormal},
      {35, 3, PriorityClass::kNormal, kThreadHighest},
      {32, 64, PriorityClass::kAboveNormal, kThreadBelowNormal},
      {99, 5, PriorityClass::kNormal, kThreadNormal},
      {0, 5, PriorityClass::kIdle, kThreadIdle},
      {56, 5, PriorityClass::kRealtime, kThreadTimeCritical},
      {100, 5, PriorityClass::kNormal, kThreadIdle},  // tens 10: not in the table
      {-1, 5, PriorityClass::kIdle, kThreadNormal},   // tens 0, units -1
      {std::numeric_limits<int32_t>::min(), 5, PriorityClass::kNormal, kThreadNormal},
  };
  for (const SetCase& c : cases) {
    PrioritySetting s = PriorityFromCode(c.code, core::OsLevelOf(c.os));
    EXPECT_EQ(s.priority_class, c.priority_class) << c.code << " os " << c.os;
    EXPECT_EQ(s.thread_priority, c.thread_priority) << c.code << " os " << c.os;
  }
}

// Codes outside the table; every table code is proved by the round trip below.
TEST(Priority, ReadBack) {
  EXPECT_EQ(PriorityCodeOf({PriorityClass::kOther, 7}), 99);
  EXPECT_EQ(PriorityCodeOf({PriorityClass::kBelowNormal, 0x7FFFFFFF}), 19);
  // Class read failed with error 6: 6000 plus the thread part.
  EXPECT_EQ(PriorityCodeOf({core::Failure{{}, 6}, kThreadAboveNormal}), 6004);
  EXPECT_EQ(PriorityCodeOf({core::Failure{{}, 0xC0000005u}, kThreadNormal}),
            std::numeric_limits<int32_t>::max());
}

TEST(Priority, EveryTableCodeReadsBackAsItself) {
  for (int32_t tens = 0; tens <= 5; ++tens) {
    for (int32_t units = 0; units <= 6; ++units) {
      int32_t code = tens * 10 + units;
      PrioritySetting s = PriorityFromCode(code, core::OsLevel::kFive);
      EXPECT_EQ(PriorityCodeOf({s.priority_class, s.thread_priority}), code);
    }
  }
}

}  // namespace
}  // namespace x5::runner
