// Where x5ctl reads a job log the runner knows by its Windows path.
#include "x5ctl/host/job_log_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace x5::ctl::host {
namespace {

// ".." stops at the drive's root as on Windows, so a task's console file cannot make x5ctl read
// (and print as the job log) a file of the prefix or outside it.
TEST(LocalPathOf, DotDotStopsAtTheDrivesRoot) {
  const char* before = std::getenv("WINEPREFIX");
  const std::string kept = before != nullptr ? before : "";
  setenv("WINEPREFIX", "/nonexistent-prefix", 1);
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\..\\..\\..\\etc\\shadow", "/nonexistent-prefix/drive_c/etc/shadow"},
      {"c:\\jobs\\..\\..\\log.txt", "/nonexistent-prefix/drive_c/log.txt"},
      {"C:\\jobs\\S01\\..\\console.txt", "/nonexistent-prefix/drive_c/jobs/console.txt"},
  };
  for (const auto& [windows, local] : rows)
    EXPECT_EQ(LocalPathOf(windows, "wine").string(), local) << windows;
  if (before != nullptr)
    setenv("WINEPREFIX", kept.c_str(), 1);
  else
    unsetenv("WINEPREFIX");
}

}  // namespace
}  // namespace x5::ctl::host
