// The job log block's lines, to the byte.
#include "runner/job_log_lines.h"

#include <gtest/gtest.h>

#include <limits>

namespace x5::runner {
namespace {

constexpr int64_t kMs = 10'000;  // 100 ns ticks per millisecond
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kHour = 3600 * kSecond;

TEST(JobLogLines, DurationLines) {
  const struct {
    int64_t ticks;
    const char* line;
  } cases[] = {
      {kHour + 2 * 60 * kSecond + 3 * kSecond + 4 * kMs, "Kernel  01h 02m 03s  04ms"},
      {25 * kHour, "Kernel  01h  0m  0s   0ms"},  // days not shown
      {-kHour, "Kernel   0h  0m  0s   0ms"},      // every pair of zeros blanked
      {23 * kHour + 59 * 60 * kSecond + 59 * kSecond + 999 * kMs, "Kernel 023h 59m 59s 999ms"},
      {10 * kMs + 9999, "Kernel   0h  0m  0s 010ms"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DurationLine(c.ticks, "Kernel "), c.line) << c.ticks;
}

TEST(JobLogLines, BlockLines) {
  EXPECT_EQ(StartedLine(core::LocalTime{2024, 2, 29, 4, 13, 45, 30, 123}),
            "Started 29/02/2024 13:45:30");
  EXPECT_EQ(EndedLine(core::LocalTime{1601, 1, 1, 1, 0, 0, 0, 0}), "Ended   01/01/1601 00:00:00");
  EXPECT_EQ(EndedLine(core::LocalTime{9999, 12, 31, 5, 23, 59, 59, 999}),
            "Ended   31/12/9999 23:59:59");
  EXPECT_EQ(IoLine(200, 2, 3), "IO      200 | PeakMemory 2 | Processes 3");
  EXPECT_EQ(ExitCodeLine(3), "Exit    3");
  EXPECT_EQ(ExitCodeLine(65535), "Exit    65535");
  EXPECT_EQ(ExitCodeLine(0xC0000005), "Exit    3221225477 (0xC0000005)");
  EXPECT_EQ(SeparatorLine(0), "");
  EXPECT_EQ(SeparatorLine(5), "_____");
  EXPECT_EQ(SeparatorLine(-1), std::string(80, '_'));
  EXPECT_EQ(SeparatorLine(std::numeric_limits<int32_t>::max()).size(), 32767u);
  EXPECT_EQ(IdentificationLine("bob/PAY.12.3", 0), "bob/PAY.12.3");
  EXPECT_EQ(IdentificationLine("bob/PAY.12.3", 188), "bob/PAY.12.3  JOB# 188");
  EXPECT_EQ(CommandLogLine("cmd /c x"), "Command=cmd /c x");
  EXPECT_EQ(WorkDirLogLine("C:\\w"), "WorkDir=C:\\w");
  EXPECT_EQ(RcLine(7, "RC = 0  ", -3), "RC#7=RC = 0  /-3");
}

}  // namespace
}  // namespace x5::runner
