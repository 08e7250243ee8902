// The RC file: its text both ways, and a held file as two steps of one job would meet it.
#include "x5ctl/host/rc_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

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

TEST(RcFile, KilledStepsStopTheChainUnlessToldOtherwise) {
  struct Row {
    const char* choice;
    std::optional<int32_t> report_rc;
    std::optional<int32_t> written;
  };
  const Row rows[] = {{"abend", 9, 9}, {"report", std::nullopt, std::nullopt}};
  for (const Row& row : rows) {
    const core::Result<KilledStepRc> choice = ParseKilledStepRc(row.choice);
    ASSERT_TRUE(choice.ok()) << row.choice;
    EXPECT_EQ(RcOfKilledStep(*choice, 4, row.report_rc), row.written) << row.choice;
  }
  EXPECT_EQ(RcOfKilledStep(KilledStepRc{}, INT32_MAX, std::nullopt), INT32_MAX);
  for (const char* wrong : {"", "Abend", " 3", "3x"})
    EXPECT_FALSE(ParseKilledStepRc(wrong).ok()) << wrong;
}

class RcFileHeld : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("x5ctl_rc_" + std::to_string(getpid()));
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
    chmod(path_.c_str(), 02750);
  }
  // No note outlives its holder's lock, and nobody outside the job may open the lock.
  struct stat lock {};
  ASSERT_EQ(stat(RcLockPath(path_).c_str(), &lock), 0);
  EXPECT_EQ(lock.st_size, 0);
  EXPECT_EQ(lock.st_mode & 0007, 0u);
  core::Result<std::unique_ptr<RcFile>> next = LockRcFile(path_, "task third.toml");
  ASSERT_TRUE(next.ok()) << next.failure().text;
  EXPECT_EQ(*(*next)->Read(), std::optional<int32_t>(3));
  ASSERT_TRUE((*next)->Write(-4).ok());
  EXPECT_EQ(*(*next)->Read(), std::optional<int32_t>(-4));
  struct stat written {};
  ASSERT_EQ(stat(path_.c_str(), &written), 0);
  EXPECT_EQ(written.st_mode & 07777, 0750u);  // kept, without the set-group-id bit
  // Nothing but the file and its lock is left in the folder.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
    ++entries;
  EXPECT_EQ(entries, 2u);
}

std::string TextOf(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// What another user of the folder plants beside the RC file is refused, and nothing is written
// through it: the victim's file keeps its bytes, a dangling link stays dangling.
TEST_F(RcFileHeld, PlantedLinksAndSpecialFilesAreRefusedNotFollowed) {
  const fs::path victim = dir_ / "victim";
  const fs::path lock = RcLockPath(path_);
  struct Row {
    const char* name;
    std::function<void()> plant;
    const char* refusal;
  };
  const Row rows[] = {
      {"lock links to a file", [&] { fs::create_symlink(victim, lock); }, "symbolic link"},
      {"lock links nowhere", [&] { fs::create_symlink(dir_ / "new", lock); }, "symbolic link"},
      {"lock is a hard link", [&] { fs::create_hard_link(victim, lock); }, "hard links"},
      {"lock is a folder", [&] { fs::create_directory(lock); }, "not a regular file"},
      {"file links to a file", [&] { fs::create_symlink(victim, path_); }, "symbolic link"},
      {"file is a FIFO", [&] { mkfifo(path_.c_str(), 0600); }, "not a regular file"},
  };
  for (const Row& row : rows) {
    for (const fs::path& entry : {victim, lock, path_, dir_ / "new"})
      fs::remove(entry);
    std::ofstream(victim) << "7\n";
    row.plant();
    core::Result<std::unique_ptr<RcFile>> held = LockRcFile(path_, "task");
    std::string refusal = held ? std::string() : held.failure().text;
    if (held) {
      const auto read = (*held)->Read();
      const core::Result<void> written = read ? (*held)->Write(3) : core::Result<void>();
      refusal = !read ? read.failure().text : !written ? written.failure().text : "";
    }
    EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.name << ": " << refusal;
    EXPECT_EQ(TextOf(victim), "7\n") << row.name;
    EXPECT_FALSE(fs::exists(dir_ / "new")) << row.name;
  }
}

// A user outside the job cannot open the lock, so cannot hold it and stop the job's steps; as
// root, the test is that user too.
TEST_F(RcFileHeld, OutsidersCannotTakeTheLock) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to act as a second user";
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  ASSERT_TRUE(LockRcFile(path_, "first").ok());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t outsider = fork();
  if (outsider == 0) {
    char took = 0;
    if (setuid(65534) == 0) {
      const int fd = open(RcLockPath(path_).c_str(), O_RDONLY);
      struct flock shared {};
      shared.l_type = F_RDLCK;
      took = fd >= 0 && fcntl(fd, F_OFD_SETLK, &shared) == 0 ? 1 : 0;
    }
    (void)!write(ready[1], &took, 1);
    pause();  // holds what it took until it is ended
    _exit(0);
  }
  char took = 1;
  ASSERT_EQ(read(ready[0], &took, 1), 1);
  core::Result<std::unique_ptr<RcFile>> held = LockRcFile(path_, "second");
  kill(outsider, SIGKILL);
  waitpid(outsider, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(took, 0);
  EXPECT_TRUE(held.ok()) << held.failure().text;
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
