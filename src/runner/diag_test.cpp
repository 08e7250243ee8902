// DIAG numbering and file names.
#include "runner/diag.h"

#include <gtest/gtest.h>

#include <limits>

namespace x5 {
namespace {

TEST(Diag, NumberSetsOrCountsOn) {
  int32_t n = 0;
  for (int32_t expected : {1, 2, 3}) {
    n = NextDiagNumber(n, -1);
    EXPECT_EQ(n, expected);
  }
  n = NextDiagNumber(n, 7);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(NextDiagNumber(n, -1), 8);
  EXPECT_EQ(NextDiagNumber(n, 0), 0);
  EXPECT_EQ(NextDiagNumber(std::numeric_limits<int32_t>::max(), -5),
            std::numeric_limits<int32_t>::max());
}

TEST(Diag, FileNameFromTheTaskFields) {
  TaskRecord task;
  task.job_base_directory = Padded("C:\\jobs\\", kPathWidth);
  task.job_name = Padded("PAYROLL", kJobNameWidth);
  task.step_directory = Padded("S010", kStepDirectoryWidth);
  task.console_file = Padded("C:\\jobs\\log.txt", kPathWidth);
  EXPECT_EQ(DiagFileName(task, 8), "C:\\jobs\\PAYROLL\\S010\\DIAG8.txt");
  EXPECT_EQ(DiagFileName(task, 0), "C:\\jobs\\PAYROLL\\S010\\DIAG0.txt");

  task.console_file = Padded("", kPathWidth);
  EXPECT_EQ(DiagFileName(task, 1), std::nullopt);
  task.console_file.clear();
  EXPECT_EQ(DiagFileName(task, 1), std::nullopt);
}

}  // namespace
}  // namespace x5
