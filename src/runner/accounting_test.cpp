// Accounting arithmetic, with recorded figures, and the step times kept for the job log.
#include "runner/accounting.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "runner/job_log_lines.h"

namespace x5::runner {
namespace {

constexpr int64_t kSecond = 10'000'000;  // 100 ns ticks

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
  EXPECT_EQ(std::tuple(f.measured_io, f.peak_memory_kb, f.process_count),
            std::tuple(uint64_t{200}, 2, 3));
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
  EXPECT_EQ(ReportStatusText(998), "998     ");
  EXPECT_EQ(ReportStatusText(-2147483647 - 1), "-2147483");
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

}  // namespace
}  // namespace x5::runner
