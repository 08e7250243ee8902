// DIAG numbering and file names.
#include "runner/diag.h"

#include <gtest/gtest.h>

#include <limits>

namespace x5::runner {
namespace {

TEST(Diag, NumberSetsOrCountsOnAndTheFileLiesInTheGlobalParameterDirectory) {
  EXPECT_EQ(NextDiagNumber(0, -1), 1);
  EXPECT_EQ(NextDiagNumber(3, 7), 7);
  EXPECT_EQ(NextDiagNumber(7, 0), 0);
  EXPECT_EQ(NextDiagNumber(std::numeric_limits<int32_t>::max(), -5),
            std::numeric_limits<int32_t>::max());
  // The file lies only in the global parameter directory.
  protocol::TaskRecord task;
  task.console_file = protocol::Padded("C:\\jobs\\log.txt", protocol::kPathWidth);
  const std::string directory = "C:\\jobs\\PAYROLL\\S010\\";
  EXPECT_EQ(DiagFileName(task, directory, 8), "C:\\jobs\\PAYROLL\\S010\\DIAG8.txt");
  // Not known yet: nowhere else instead.
  EXPECT_EQ(DiagFileName(task, "", 1), std::nullopt);

  task.console_file.clear();
  EXPECT_EQ(DiagFileName(task, directory, 1), std::nullopt);
}

}  // namespace
}  // namespace x5::runner
