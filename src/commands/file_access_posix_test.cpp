// The POSIX file access on real files: limits, missing files, atomic replacement that keeps the
// old file and its mode when anything fails.
#include "commands/file_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace x5::commands {
namespace {

namespace fs = std::filesystem;

// A fresh folder for one test, removed with it.
struct Folder {
  fs::path dir =
      fs::temp_directory_path() / ("x5_file_access_" + std::to_string(::getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::unique_ptr<FileAccess> files = MakeSystemFileAccess();
  Folder() {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Folder() { fs::remove_all(dir); }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
  std::string Read(const std::string& name) const {
    std::stringstream all;
    all << std::ifstream(*this / name, std::ios::binary).rdbuf();
    return all.str();
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
  }
};

TEST(PosixFileAccess, ReadsWholeFilesUpToTheLimit) {
  const Folder f;
  std::ofstream(f / "a.txt", std::ios::binary) << std::string("ab\0c", 4);
  std::string content;
  EXPECT_EQ(f.files->ReadWhole(f / "a.txt", 4, content).state, ReadOutcome::State::kRead);
  EXPECT_EQ(content, std::string("ab\0c", 4));
  const ReadOutcome read = f.files->ReadWhole(f / "a.txt", 3, content);
  EXPECT_EQ(read.state, ReadOutcome::State::kTooLarge);
  EXPECT_EQ(read.size, 4);
  EXPECT_TRUE(content.empty());
  EXPECT_EQ(f.files->ReadWhole(f / "none.txt", 10, content).state, ReadOutcome::State::kMissing);
  EXPECT_EQ(f.files->ReadWhole(f.dir.string(), 10, content).state, ReadOutcome::State::kMissing);
}

TEST(PosixFileAccess, ReplacesInOneStepAndKeepsTheMode) {
  const Folder f;
  std::ofstream(f / "a.txt") << "old";
  ASSERT_EQ(::chmod((f / "a.txt").c_str(), 0640), 0);
  EXPECT_EQ(f.files->WriteAtomically(f / "a.txt", "new text").state, WriteOutcome::State::kWritten);
  EXPECT_EQ(f.Read("a.txt"), "new text");
  struct stat status {};
  ASSERT_EQ(::stat((f / "a.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(f.Entries(), 1u);  // no temporary file left behind
}

TEST(PosixFileAccess, AFailedReplacementLeavesEverythingAsItWas) {
  const Folder f;
  fs::create_directories(f.dir / "target");
  std::ofstream(f / "target/inside.txt") << "keep";
  const WriteOutcome outcome = f.files->WriteAtomically(f / "target", "x");
  EXPECT_EQ(outcome.state, WriteOutcome::State::kReplaceFailed);
  EXPECT_NE(outcome.error, 0);
  EXPECT_EQ(f.Read("target/inside.txt"), "keep");
  EXPECT_EQ(f.Entries(), 1u);
  EXPECT_EQ(f.files->WriteAtomically(f / "no/such/dir.txt", "x").state,
            WriteOutcome::State::kWriteFailed);
}

}  // namespace
}  // namespace x5::commands
