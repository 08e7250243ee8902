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
  TaskRecord t = Task(step_folder ? "/X5P\r\n" + step_ + " sleep 30000" : step_ + " exit 0");
  t.picture_interval = 200;
  blocks_.variables = "SET X$=inside";
  Start(t);
  Exchange("DIAG", -1);
  Exchange("STAT");
  if (step_folder)
    Exchange("KILL");
  EXPECT_EQ(StatUntilFinal().report.status_text, step_folder ? "STEP OK " : "FILE ?  ");
  EndConversation();

  EXPECT_EQ(Snapshot(outside), outside_before);
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
                              "S01\\_X5C_ not deleted: its folder is a link"}},
                    LinkCase{"FilesInTheStepFolder",
                             LinkFilesInStepFolder,
                             {"S01\\Printers.txt not written: it is a link",
                              "S01\\#1_1#2_old.JPG not deleted: it is a link"}},
                    LinkCase{"ConsoleFile", LinkConsoleFile, {}},
                    LinkCase{"ConsoleFileHardLink", HardLinkConsoleFile, {}}),
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
  // One line, whatever the number of requests seen after it.
  const std::string console = Unwrapped(ReadFileText(Linux("console.txt")));
  EXPECT_TRUE(Contains(console, "_X5C_ cannot be deleted (error 5): it is ignored from now on"))
      << console;
  EXPECT_EQ(Count(console, "_X5C_"), 1u) << console;
}

}  // namespace
}  // namespace x5::e2e
