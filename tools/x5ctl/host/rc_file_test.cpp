// The RC file: its text both ways, and a held file as two steps of one job would meet it.
#include "x5ctl/host/rc_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

namespace x5::ctl::host {
namespace {

namespace fs = std::filesystem;

TEST(RcFile, TextIsOneDecimalNumber) {
  struct Row {
    const char* text;
    std::optional<int32_t> rc;  // nullopt: refused
  };
  const Row rows[] = {
      {"3\n", 3},
      {"  -7 \r\n\n", -7},
      {"+12", 12},
      {"2147483647\n", INT32_MAX},
      {"-2147483648\n", INT32_MIN},
      {"2147483648\n", std::nullopt},
      {" \n", std::nullopt},
      {"3 4\n", std::nullopt},
      {"RC=3\n", std::nullopt},
      {"+-3", std::nullopt},
  };
  for (const Row& row : rows) {
    const core::Result<int32_t> rc = ParseRcFileText(row.text);
    EXPECT_EQ(rc.ok() ? std::optional<int32_t>(*rc) : std::nullopt, row.rc) << row.text;
  }
}

class RcFileHeld : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) / ("x5ctl_rc_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "job.rc";
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
  fs::path path_;
};

// A first step finds no file, leaves its RC; while a step holds the file a second is refused and
// told who holds it; once it is given up the next step reads the RC left, and the file keeps the
// permissions it was given.
TEST_F(RcFileHeld, StepsOfOneJobTakeTheFileInTurn) {
  {
    core::Result<std::unique_ptr<RcFile>> first = LockRcFile(path_, "task first.toml");
    ASSERT_TRUE(first.ok()) << first.failure().text;
    EXPECT_EQ(*(*first)->Read(), std::nullopt);
    core::Result<std::unique_ptr<RcFile>> second = LockRcFile(path_, "task second.toml");
    ASSERT_FALSE(second.ok());
    EXPECT_NE(second.failure().text.find("another step of this job holds the RC file (x5ctl exec "
                                         "pid " +
                                         std::to_string(getpid())),
              std::string::npos)
        << second.failure().text;
    EXPECT_NE(second.failure().text.find("task first.toml"), std::string::npos);
    ASSERT_TRUE((*first)->Write(3).ok());
    chmod(path_.c_str(), 0640);
  }
  core::Result<std::unique_ptr<RcFile>> next = LockRcFile(path_, "task third.toml");
  ASSERT_TRUE(next.ok()) << next.failure().text;
  EXPECT_EQ(*(*next)->Read(), std::optional<int32_t>(3));
  ASSERT_TRUE((*next)->Write(-4).ok());
  EXPECT_EQ(*(*next)->Read(), std::optional<int32_t>(-4));
  struct stat written {};
  ASSERT_EQ(stat(path_.c_str(), &written), 0);
  EXPECT_EQ(written.st_mode & 0777, 0640u);
  // Nothing but the file and its lock is left in the folder.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
    ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST_F(RcFileHeld, DamagedFileIsRefused) {
  std::ofstream(path_) << std::string(kRcFileMaxBytes + 1, '1');
  core::Result<std::unique_ptr<RcFile>> held = LockRcFile(path_, "task");
  ASSERT_TRUE(held.ok());
  const auto too_long = (*held)->Read();
  ASSERT_FALSE(too_long.ok());
  EXPECT_NE(too_long.failure().text.find("not an RC file"), std::string::npos);
  std::ofstream(path_, std::ios::trunc) << "";
  const auto empty = (*held)->Read();
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.failure().text, path_.string() +
                                      ": the RC file holds no RC (an RC file holds "
                                      "one decimal number)");
}

}  // namespace
}  // namespace x5::ctl::host
