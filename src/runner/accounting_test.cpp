// Accounting arithmetic and job log line layout, with recorded figures.
#include "runner/accounting.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace x5::runner {
namespace {

constexpr int64_t kMs = 10'000;  // 100 ns ticks per millisecond
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kHour = 3600 * kSecond;

TEST(Accounting, KilobytesRoundHalvesToEvenEachPartBeforeTheSum) {
  const std::pair<uint64_t, int32_t> cases[] = {
      {511, 0}, {512, 0}, {513, 1}, {1536, 2}, {2560, 2}, {uint64_t{1} << 41, INT32_MAX}};
  for (const auto& [bytes, kb] : cases)
    EXPECT_EQ(KilobytesRounded(bytes), kb) << bytes;
  // A process's memory rounds each part before the sum: 1.5 KB + 1.5 KB gives 4, not 3.
  ProcessMemoryKb m = ProcessMemoryFrom({1536, 1536, 2560, 2560});
  EXPECT_EQ(std::pair(m.current_kb, m.peak_kb), std::pair(4, 4));  // 2.5 rounds to 2 twice
  m = ProcessMemoryFrom({uint64_t{1} << 42, uint64_t{1} << 42, 0, 0});
  EXPECT_EQ(m.current_kb, std::numeric_limits<int32_t>::max());
}

TEST(Accounting, JobFiguresFromAnswers) {
  JobRaw raw;
  raw.basic = JobBasicRaw{3, 5 * kSecond, 7 * kSecond};
  raw.io = JobIoRaw{120, 30, 50};
  raw.extended = JobExtendedRaw{1536, 10 * 1024 + 512};
  JobFigures f = JobFiguresFrom(raw);
  EXPECT_EQ(std::tuple(f.kernel_time, f.user_time, f.memory_kb),
            std::tuple(5 * kSecond, 7 * kSecond, 10));
  // 200 operations and 40 KB read by file conditions: 240, sent times ten thousand.
  EXPECT_EQ(IoCountField(f.measured_io, 40), 2'400'000);
  EXPECT_EQ(IoLine(f.measured_io, f.peak_memory_kb, f.process_count),
            "IO      200 | PeakMemory 2 | Processes 3");
}

TEST(Accounting, FailedQueriesLeaveZeroNeverNegativeOrWrapped) {
  EXPECT_EQ(JobFiguresFrom(JobRaw{}).process_count, 0);
  // Basic alone (the combined query failed): times and count, no I/O.
  JobRaw basic_only;
  basic_only.basic = JobBasicRaw{uint64_t{1} << 33, -5, -1};
  const JobFigures f = JobFiguresFrom(basic_only);
  EXPECT_EQ(std::tuple(f.process_count, f.kernel_time, f.user_time, f.measured_io),
            std::tuple(std::numeric_limits<int32_t>::max(), int64_t{0}, int64_t{0}, uint64_t{0}));
  EXPECT_EQ(IoCountField(std::numeric_limits<uint64_t>::max(), 10),
            std::numeric_limits<int64_t>::max());
  EXPECT_EQ(IoCountField(0, -40), 0);
  EXPECT_EQ(IoCountField(922'337'203'685'477, 0), 9'223'372'036'854'770'000);
  EXPECT_EQ(IoCountField(922'337'203'685'478, 0), std::numeric_limits<int64_t>::max());
}

TEST(Accounting, FailureNoticesAreSaidOncePerQuery) {
  AccountingNotices notices;
  QueryFailures failures;
  EXPECT_EQ(notices.Take(failures), "");
  failures.Set(AccountingQuery::kJobBasicAndIo, 1);
  EXPECT_EQ(notices.Take(failures),
            "Accounting: job I/O accounting not available (error 1), IO shown as 0");
  EXPECT_EQ(notices.Take(failures), "");
  failures.Set(AccountingQuery::kJobExtendedLimit, 0);  // no code given still counts
  EXPECT_EQ(failures.Get(AccountingQuery::kJobExtendedLimit), 0xFFFFFFFFu);
  failures.Set(AccountingQuery::kProcessTimes, 6);
  EXPECT_EQ(notices.Take(failures),
            "Accounting: job memory accounting not available (error 4294967295), PeakMemory "
            "shown as 0\r\n"
            "Accounting: process times not available (error 6), Kernel, User, Started and Ended "
            "shown as 0");
  EXPECT_EQ(notices.Take(failures), "");
}

TEST(Accounting, DurationLines) {
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

// A last query that fails keeps the times read before it: the job log never shows zeros.
TEST(Accounting, StepTimesKeepTheLastTimesRead) {
  const core::LocalTime created{2024, 3, 7, 4, 9, 5, 1, 0};
  const core::LocalTime now{2024, 3, 7, 4, 9, 8, 0, 0};
  StepTimes times;
  times.Launched(core::LocalTime{2024, 3, 7, 4, 9, 5, 0, 0});
  EXPECT_EQ(DateTimeText(times.Creation()), "07/03/2024 09:05:00");
  times.Read(created, core::LocalTime{});  // a report while the step runs
  EXPECT_EQ(DateTimeText(times.Creation()), "07/03/2024 09:05:01");
  EXPECT_EQ(DateTimeText(times.Exit(now)), "07/03/2024 09:08:00");  // never seen ended
  times.Read(created, core::LocalTime{2024, 3, 7, 4, 9, 7, 30, 0});
  times.Read(core::LocalTime{}, core::LocalTime{});  // an answer without times changes nothing
  EXPECT_EQ(DateTimeText(times.Creation()), "07/03/2024 09:05:01");
  EXPECT_EQ(DateTimeText(times.Exit(now)), "07/03/2024 09:07:30");
}

TEST(Accounting, JobLogLines) {
  // 2024-02-29 13:45:30.123 as a FILETIME count.
  constexpr int64_t kLeapDay = 133'536'879'301'230'000;
  const core::LocalTime t = CalendarFromFileTime(kLeapDay);
  EXPECT_EQ(StartedLine(t), "Started 29/02/2024 13:45:30");
  EXPECT_EQ(std::pair(t.millisecond, t.day_of_week), std::pair(123, 4));  // a Thursday
  EXPECT_EQ(EndedLine(CalendarFromFileTime(-5)), "Ended   01/01/1601 00:00:00");
  EXPECT_EQ(EndedLine(CalendarFromFileTime(2'650'467'743'999'990'000)),
            "Ended   31/12/9999 23:59:59");
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
  EXPECT_EQ(ReportStatusText(998), "998     ");
  EXPECT_EQ(ReportStatusText(-2147483647 - 1), "-2147483");
}

}  // namespace
}  // namespace x5::runner
