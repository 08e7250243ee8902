// The runner follows no link in the job's folders: linked step folders, console files and
// parameter files are refused with the target left as it was; the picture request counts once.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

class JobFolders : public RunnerTest {
 protected:
  std::string Console() { return Unwrapped(ReadFileText(Linux("console.txt"))); }
};

// What a planted link leads to lies in `outside`, which must come through the run unchanged.
struct LinkCase {
  const char* name;
  void (*plant)(const fs::path& test_dir, const fs::path& outside);
  const char* command_head;        // switches before the step's own line
  bool kill;                       // the step sleeps and is killed; else it ends by itself
  const char* expected_status;     // of the final report
  std::vector<const char*> lines;  // each expected once in the job log (when it can be read)
};

void LinkStepFolder(const fs::path& dir, const fs::path& outside) {
  for (const char* name : {"X$.$$$", "DIAG1.txt", "Printers.txt", "#1_1#2_old.JPG", "_X5C_"})
    std::ofstream(outside / name, std::ios::binary) << "outside " << name;
  fs::remove_all(dir / "JOB" / "S01");
  fs::create_directory_symlink(outside, dir / "JOB" / "S01");
}

void LinkFilesInStepFolder(const fs::path& dir, const fs::path& outside) {
  for (const char* name : {"X$.$$$", "DIAG1.txt", "Printers.txt", "#1_1#2_old.JPG", "_X5C_"}) {
    std::ofstream(outside / name, std::ios::binary) << "outside " << name;
    fs::create_symlink(outside / name, dir / "JOB" / "S01" / name);
  }
}

void LinkConsoleFile(const fs::path& dir, const fs::path& outside) {
  std::ofstream(outside / "console.txt", std::ios::binary) << "outside console";
  fs::create_symlink(outside / "console.txt", dir / "console.txt");
}

void HardLinkConsoleFile(const fs::path& dir, const fs::path& outside) {
  std::ofstream(outside / "console.txt", std::ios::binary) << "outside console";
  fs::create_hard_link(outside / "console.txt", dir / "console.txt");
}

class Links : public JobFolders, public testing::WithParamInterface<LinkCase> {};

TEST_P(Links, AreRefusedAndWhatTheyLeadToStaysAsItWas) {
  const LinkCase& c = GetParam();
  const fs::path outside = Linux("outside");
  fs::create_directories(outside);
  c.plant(dir_linux_, outside);
  const auto outside_before = Snapshot(outside);

  TaskRecord t = Task(std::string(c.command_head) + step_ + (c.kill ? " sleep 30000" : " exit 0"));
  t.picture_interval = 200;
  blocks_.variables = "SET X$=inside";
  Start(t);
  Exchange("DIAG", -1);
  Exchange("STAT");
  if (c.kill)
    Exchange("KILL");
  EXPECT_EQ(StatUntilFinal().report.status_text, c.expected_status);
  EndConversation();

  EXPECT_EQ(Snapshot(outside), outside_before);
  if (std::string(c.name).find("Console") != std::string::npos)
    return;  // the job log itself was refused
  const std::string console = Console();
  for (const char* line : c.lines)
    EXPECT_EQ(Count(console, line), 1u) << line << "\n" << console;
}

INSTANTIATE_TEST_SUITE_P(
    Planted,
    Links,
    testing::Values(
        LinkCase{"StepFolder",
                 LinkStepFolder,
                 "/X5P\r\n",
                 true,
                 "STEP OK ",
                 {"S01\\*.$$$ not read: its folder is a link",
                  "S01\\X$.$$$ not written: its folder is a link",
                  "S01\\Printers.txt not written: its folder is a link",
                  "S01\\DIAG1.txt not written: its folder is a link",
                  "S01\\_X5C_ not deleted: its folder is a link",
                  "S01\\#*.JPG not written: its folder is a link"}},
        LinkCase{
            "FilesInTheStepFolder",
            LinkFilesInStepFolder,
            "/X5P\r\n",
            true,
            "STEP OK ",
            {"S01\\X$.$$$ not written: it is a link", "S01\\Printers.txt not written: it is a link",
             "S01\\DIAG1.txt not written: it is a link",
             "S01\\#1_1#2_old.JPG not deleted: it is a link"}},
        LinkCase{"ConsoleFile", LinkConsoleFile, "", false, "FILE ?  ", {}},
        LinkCase{"ConsoleFileHardLink", HardLinkConsoleFile, "", false, "FILE ?  ", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobFolders, PictureRequestCountsOnlyAsAPlainFileAndOnce) {
  const fs::path request = Linux("JOB/S01/_X5C_");
  TaskRecord t = Task(step_ + " sleep 30000");
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
  const std::string console = Console();
  EXPECT_EQ(Count(console, "_X5C_ cannot be deleted (error 5): it is ignored from now on"), 1u)
      << console;
  EXPECT_EQ(Count(console, "_X5C_"), 1u) << console;
}

}  // namespace
}  // namespace x5::e2e
