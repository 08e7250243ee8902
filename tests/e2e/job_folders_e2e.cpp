// The runner follows no link in the job's folders: linked step folders, console files and
// parameter files are refused with the target left as it was; the picture request counts once.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using JobFolders = RunnerTest;

// What a planted link leads to lies in `outside`, which must come through the run unchanged.
struct LinkCase {
  const char* name;
  void (*plant)(const fs::path& test_dir, const fs::path& outside);
  std::vector<const char*> lines;  // each expected once in the job log; none: the job log is linked
};

constexpr const char* kStepFiles[] = {"X$.$$$", "DIAG1.txt", "Printers.txt", "#1_1#2_old.JPG",
                                      "_X5C_"};

void LinkStepFolder(const fs::path& dir, const fs::path& outside) {
  for (const char* name : kStepFiles)
    WriteText(outside / name, name);
  fs::remove_all(dir / "JOB" / "S01");
  fs::create_directory_symlink(outside, dir / "JOB" / "S01");
}

void LinkFilesInStepFolder(const fs::path& dir, const fs::path& outside) {
  for (const char* name : kStepFiles) {
    WriteText(outside / name, name);
    fs::create_symlink(outside / name, dir / "JOB" / "S01" / name);
  }
}

void LinkConsoleFile(const fs::path& dir, const fs::path& outside) {
  WriteText(outside / "console.txt", "outside console");
  fs::create_symlink(outside / "console.txt", dir / "console.txt");
}

void HardLinkConsoleFile(const fs::path& dir, const fs::path& outside) {
  WriteText(outside / "console.txt", "outside console");
  fs::create_hard_link(outside / "console.txt", dir / "console.txt");
}

class Links : public JobFolders, public testing::WithParamInterface<LinkCase> {};

TEST_P(Links, AreRefusedAndWhatTheyLeadToStaysAsItWas) {
  const LinkCase& c = GetParam();
  const fs::path outside = Linux("outside");
  fs::create_directories(outside);
  c.plant(dir_linux_, outside);
  const auto outside_before = Snapshot(outside);

  // With the step folder linked, the step is killed so that pictures and a DIAG are written.
  const bool step_folder = !c.lines.empty();
  protocol::TaskRecord t =
      Task(step_folder ? "/X5P\r\n" + step_ + " sleep 30000" : step_ + " exit 0");
  t.picture_interval = 200;
  blocks_.variables = "SET X$=inside";
  Start(t);
  Exchange("DIAG", -1);
  Exchange("STAT");
  if (step_folder)
    Exchange("KILL");
  // A console file with another name (a hard link) is replaced, not written through: the other
  // name keeps its bytes. A symbolic link is refused.
  const bool refused = std::string_view(c.name) == "ConsoleFile";
  EXPECT_EQ(StatUntilFinal().report.status_text, refused ? "FILE ?  " : "STEP OK ");
  EndConversation();

  EXPECT_EQ(Snapshot(outside), outside_before);
  // The refusals are longer than the console is wide; one broken where a blank fell in the last
  // column comes out as two lines (a row that does not reach the last column ends its line).
  const std::string console = Unwrapped(ReadFileText(Linux("console.txt")));
  for (const char* line : c.lines)
    EXPECT_EQ(Count(console, line), 1u) << line << "\n" << console;
}

INSTANTIATE_TEST_SUITE_P(
    Planted,
    Links,
    // Each refusal text once; the snapshot of `outside` catches any write through a link.
    testing::Values(LinkCase{"StepFolder",
                             LinkStepFolder,
                             {"S01\\*.$$$ not read: its folder is a link",
                              "S01\\X$.$$$ not written: its folder is a link",
                              "S01\\_X5C_ not deleted: its folder is a link",
                              // The KILL's evidence, without pictures (nowhere to put them).
                              "killed at end of job, final window(s) picture(s) may exist!"}},
                    LinkCase{"FilesInTheStepFolder",
                             LinkFilesInStepFolder,
                             {"S01\\Printers.txt not written: it is a link",
                              "S01\\#1_1#2_old.JPG not deleted: it is a link"}},
                    LinkCase{"ConsoleFile", LinkConsoleFile, {}},
                    LinkCase{"ConsoleFileHardLink", HardLinkConsoleFile, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobFolders, PictureRequestCountsOnlyAsAPlainFileAndOnce) {
  const fs::path request = Linux("JOB/S01/_X5C_");
  protocol::TaskRecord t = Task(step_ + " sleep 30000");
  t.picture_interval = 200;
  Start(t);
  fs::create_directory(request);  // a folder is no request
  Exchange("STAT");
  fs::remove(request);
  std::ofstream(request) << "request";
  fs::permissions(request, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Exchange("STAT");
  Exchange("STAT");
  Exchange("KILL");
  StatUntilFinal();
  EndConversation();

  EXPECT_TRUE(fs::exists(request));
  // One line, whatever the number of requests seen after it.
  const std::string console = ReadFileText(Linux("console.txt"));
  EXPECT_TRUE(Contains(console, "_X5C_ cannot be deleted (error 5): it is ignored from now on"))
      << console;
  EXPECT_EQ(Count(console, "_X5C_"), 1u) << console;
}

// A full file system: a DIAG file is replaced only by a whole copy, so the earlier one stays as it
// was; the job log, this run's from the start, keeps what the disk took, and its failed save is
// reported ("FILE ?").
TEST_F(JobFolders, AFullDiskLeavesEarlierFilesWhole) {
  const fs::path step_dir = Linux("JOB/S01");
  const std::string mount =
      "mount -t tmpfs -o size=64k,mode=0777 x5full '" + step_dir.string() + "' >/dev/null 2>&1";
  if (geteuid() != 0 || std::system(mount.c_str()) != 0)
    GTEST_SKIP() << "mounting a small tmpfs was refused (needs root): full-disk case not run";
  struct Unmount {
    std::string command;
    ~Unmount() { (void)std::system(command.c_str()); }
  } unmount{"umount -l '" + step_dir.string() + "'"};
  const std::string earlier_log = "the earlier job log\r\n", earlier_diag = "the earlier DIAG\r\n";
  WriteText(step_dir / "console.txt", earlier_log);
  WriteText(step_dir / "DIAG1.txt", earlier_diag);
  {
    std::ofstream fill(step_dir / "fill", std::ios::binary);
    const std::string block(4096, 'x');
    while (fill.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) {
    }
  }
  // More than the one page the earlier job log holds, in lines the console keeps up with.
  protocol::TaskRecord t = Task(step_ + " paced 400 30 2 10 sleep 2000");
  t.console_file = Win("JOB\\S01\\console.txt");
  Start(t);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  (void)Exchange("DIAG", 1);
  EXPECT_EQ(StatUntilFinal().report.status_text, "FILE ?  ");
  EndConversation();
  auto after = Snapshot(step_dir);
  after.erase("fill");
  EXPECT_EQ(after["DIAG1.txt"], earlier_diag);
  // The job log is this run's from the start, as far as the disk took it.
  EXPECT_TRUE(Contains(after["console.txt"], "output line 1.") &&
              !Contains(after["console.txt"], earlier_log))
      << after["console.txt"];
}

}  // namespace
}  // namespace x5::e2e
