// The POSIX file access on real files: limits, missing files, atomic replacement that keeps the
// old file and its mode when anything fails.
#include "commands/file_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace x5 {
namespace {

namespace fs = std::filesystem;

class PosixFileAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("x5_file_access_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static void Write(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  size_t EntryCount() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  fs::path dir_;
  std::unique_ptr<FileAccess> files_ = MakeSystemFileAccess();
};

TEST_F(PosixFileAccessTest, ReadsWholeFilesUpToTheLimit) {
  Write(Path("a.txt"), std::string("ab\0c", 4));
  std::string content;
  ReadOutcome read = files_->ReadWhole(Path("a.txt"), 4, content);
  EXPECT_EQ(read.state, ReadOutcome::State::kRead);
  EXPECT_EQ(content, std::string("ab\0c", 4));
  read = files_->ReadWhole(Path("a.txt"), 3, content);
  EXPECT_EQ(read.state, ReadOutcome::State::kTooLarge);
  EXPECT_EQ(read.size, 4);
  EXPECT_TRUE(content.empty());
  EXPECT_EQ(files_->ReadWhole(Path("none.txt"), 10, content).state, ReadOutcome::State::kMissing);
  EXPECT_EQ(files_->ReadWhole(dir_.string(), 10, content).state, ReadOutcome::State::kMissing);
}

TEST_F(PosixFileAccessTest, ReplacesInOneStepAndKeepsTheMode) {
  const std::string path = Path("a.txt");
  Write(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(files_->WriteAtomically(path, "new text").state, WriteOutcome::State::kWritten);
  EXPECT_EQ(Read(path), "new text");
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(files_->WriteAtomically(Path("b.txt"), "").state, WriteOutcome::State::kWritten);
  EXPECT_EQ(Read(Path("b.txt")), "");
  EXPECT_EQ(EntryCount(), 2u);  // no temporary file left behind
}

TEST_F(PosixFileAccessTest, AFailedReplacementLeavesEverythingAsItWas) {
  fs::create_directories(dir_ / "target");
  Write(Path("target/inside.txt"), "keep");
  const WriteOutcome outcome = files_->WriteAtomically(Path("target"), "x");
  EXPECT_EQ(outcome.state, WriteOutcome::State::kReplaceFailed);
  EXPECT_NE(outcome.error, 0);
  EXPECT_FALSE(files_->ErrorText(outcome.error).empty());
  EXPECT_EQ(Read(Path("target/inside.txt")), "keep");
  EXPECT_EQ(EntryCount(), 1u);
  EXPECT_EQ(files_->WriteAtomically(Path("no/such/dir.txt"), "x").state,
            WriteOutcome::State::kWriteFailed);
}

}  // namespace
}  // namespace x5
