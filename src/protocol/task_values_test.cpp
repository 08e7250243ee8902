// Normalisation of the task record's file-check values and the derived names.
#include "protocol/task_values.h"

#include <gtest/gtest.h>

namespace x5::protocol {
namespace {

TEST(FileCheckLimits, BufferSizeIsRoundedOrDefaulted) {
  struct {
    int32_t given, size, interval;
  } cases[] = {{1500, 2048, 64},  {65536, 65536, 2}, {65537, 4096, 32},    {1023, 4096, 32},
               {1024, 1024, 128}, {64513, 65536, 2}, {INT32_MIN, 4096, 32}};
  for (auto c : cases) {
    TaskRecord t;
    t.file_buffer_size = c.given;
    FileCheckLimits l = NormaliseFileCheckLimits(t);
    EXPECT_EQ(l.file_buffer_size, c.size) << c.given;
    EXPECT_EQ(l.check_interval, c.interval) << c.given;
  }
}

TEST(FileCheckLimits, LineLimitAndWidthBelow80AreDefaulted) {
  for (const int32_t given : {79, 80}) {
    TaskRecord t;
    t.condition_line_limit = t.condition_line_width = given;
    const FileCheckLimits l = NormaliseFileCheckLimits(t);
    EXPECT_EQ(l.line_limit, given == 80 ? 80 : 256);
    EXPECT_EQ(l.line_width, given == 80 ? 80 : 0);
  }
}

TEST(TaskValues, TitleAndOsVersion) {
  TaskRecord t;
  t.user_name = Padded("alice", 40);
  t.job_name = Padded("PAYROLL", 32);
  t.job_number = 12;
  t.step_number = -3;
  EXPECT_EQ(BuildConsoleTitle(t), "alice/PAYROLL.12.-3");
  EXPECT_EQ(EffectiveOsVersion(6, "C:\\Program Files (x86)"), 64);
  EXPECT_EQ(EffectiveOsVersion(6, "x"), 6);
}

}  // namespace
}  // namespace x5::protocol
