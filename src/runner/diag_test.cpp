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

TEST(Diag, FileOnlyInTheGlobalParameterDirectory) {
  TaskRecord task;
  task.console_file = Padded("C:\\jobs\\log.txt", kPathWidth);
  const std::string directory = "C:\\jobs\\PAYROLL\\S010\\";
  EXPECT_EQ(DiagFileName(task, directory, 8), "C:\\jobs\\PAYROLL\\S010\\DIAG8.txt");
  EXPECT_EQ(DiagFileName(task, directory, 0), "C:\\jobs\\PAYROLL\\S010\\DIAG0.txt");
  // Not known yet: nowhere else instead.
  EXPECT_EQ(DiagFileName(task, "", 1), std::nullopt);

  task.console_file = Padded("", kPathWidth);
  EXPECT_EQ(DiagFileName(task, directory, 1), std::nullopt);
  task.console_file.clear();
  EXPECT_EQ(DiagFileName(task, directory, 1), std::nullopt);
}

}  // namespace
}  // namespace x5
