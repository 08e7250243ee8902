// --drive mappings: Windows names reach local files as Windows would find them.
#include "x5ctl/host/drive_map.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>

namespace x5::ctl::host {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(DriveMap, MapsWindowsNamesLikeWindows) {
  const fs::path root = fs::temp_directory_path() / ("x5ctl-check-" + std::to_string(getpid()));
  for (const char* folder : {"c/Jobs", "share"})
    fs::create_directories(root / folder);
  WriteText(root / "c" / "Jobs" / "Run.LOG", "x");
  WriteText(root / "share" / "a.txt", "x");
  DriveMap drives;
  for (const char* mapping : {"C=c", "\\\\srv\\Share=share", "c=./c"}) {
    const core::Result<void> added = drives.Add(mapping, root);  // c=./c: the same place twice
    ASSERT_TRUE(added) << mapping << ": " << added.failure().text;
  }
  for (const char* refused : {"C", "CD=c", "D=missing"})
    EXPECT_FALSE(drives.Add(refused, root)) << refused;
  const core::Result<void> twice = drives.Add("c=share", root);
  ASSERT_FALSE(twice);
  EXPECT_EQ(twice.failure().text, "--drive \"c=share\": C: is mapped to c already");

  struct Case {
    const char* windows;
    const char* current_directory;
    const char* expected;  // the local name relative to the root, or "!" and the problem's start
  } cases[] = {
      {"c:/JOBS/./sub/../Run.log", "", "c/Jobs/Run.LOG"},
      {"C:\\..\\..\\jobs\\run.log. ", "", "c/Jobs/Run.LOG"},
      {"C:\\jobs\\new.txt", "", "c/Jobs/new.txt"},
      {"\\\\SRV\\share\\A.TXT", "", "share/a.txt"},
      {"\\\\?\\C:\\jobs\\run.log", "", "c/Jobs/Run.LOG"},
      {"run.log", "C:\\jobs", "c/Jobs/Run.LOG"},
      {"\\jobs\\run.log", "C:\\other", "c/Jobs/Run.LOG"},
      {"run.log", "", "!a relative name is looked up in the runner's current directory"},
      {"D:\\run.log", "", "!no --drive mapping covers D:"},
      {"\\\\.\\COM1", "", "!device paths are not mapped"},
  };
  for (const Case& c : cases) {
    drives.SetCurrentDirectory(c.current_directory);
    const MappedPath mapped = drives.Map(c.windows);
    const std::string got = mapped.local
                                ? mapped.local->lexically_relative(root).generic_string()
                                : ("!" + mapped.problem).substr(0, std::strlen(c.expected));
    EXPECT_EQ(got, c.expected) << c.windows << ": " << mapped.problem;
  }
  drives.SetCurrentDirectory("");
  EXPECT_TRUE(drives.Map("C:\\PROGRA~1\\app.exe").short_name);
  fs::remove_all(root);
}

}  // namespace
}  // namespace x5::ctl::host
