// The runner touches nothing outside the job and follows no link in the job's folders: early ends
// with pictures on leave the runner's current directory and the job base directory alone; linked
// step folders, console files and parameter files are refused with the target left as it was;
// the picture request counts once.
#include <map>

#include "e2e_support.h"

namespace x5::e2e {
namespace {

// Every entry of a folder (not its subfolders) with its bytes; a link shows as "-> target".
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  if (!fs::exists(dir))
    return entries;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink())
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_directory())
      entries[name] = "<dir>";
    else
      entries[name] = ReadFileText(entry.path());
  }
  return entries;
}

// Files named as pictures and picture leftovers are, and a picture request.
void PlantSentinels(const fs::path& dir) {
  fs::create_directories(dir);
  for (const char* name : {"#1_1#2_old.JPG", "#1_1#2_old.bmp", "#1_1#2_old.jpg.x5part", "_X5C_"})
    std::ofstream(dir / name, std::ios::binary) << "sentinel " << name;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

class JobFolders : public RunnerTest {
 protected:
  // Starts the runner as Start does, with its current directory set to `cwd` (a Linux path).
  void StartIn(const fs::path& cwd, const TaskRecord& task) {
    std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd.string()};
    for (std::string& part : RunnerCommandLine(runner_, DefaultWineCommand()))
      argv.push_back(std::move(part));
    session_ = std::make_unique<RunnerSession>();
    session_->SetTimeout(std::chrono::seconds(60));
    ASSERT_TRUE(session_->Start(argv)) << session_->LastError();
    ASSERT_TRUE(session_->SendTask(task, blocks_)) << session_->LastError();
    ExpectStarted();
  }

  std::string Console() { return Unwrapped(ReadFileText(Linux("console.txt"))); }
};

struct EarlyEnd {
  const char* name;
  int32_t maximum_rc, task_rc, step_min, step_max;
  const char* command;
  const char* status_text;
};

class EarlyEndsWithPictures : public JobFolders, public testing::WithParamInterface<EarlyEnd> {};

TEST_P(EarlyEndsWithPictures, LeaveTheCurrentAndBaseDirectoriesAlone) {
  const EarlyEnd& c = GetParam();
  const fs::path cwd = Linux("cwd");
  PlantSentinels(cwd);
  PlantSentinels(dir_linux_);
  PlantSentinels(Linux("JOB"));
  const auto cwd_before = Snapshot(cwd);
  const auto base_before = Snapshot(dir_linux_);
  const auto job_before = Snapshot(Linux("JOB"));

  TaskRecord t = Task(c.command);
  t.maximum_rc = c.maximum_rc;
  t.task_rc = c.task_rc;
  t.step_minimum_rc = c.step_min;
  t.step_maximum_rc = c.step_max;
  t.picture_interval = 200;
  StartIn(cwd, t);
  EXPECT_EQ(Exchange("DIAG", -1).report.status_text, c.status_text);
  EXPECT_EQ(Exchange("STAT").report.phase, 4);
  EndConversation();

  EXPECT_EQ(Snapshot(cwd), cwd_before);
  auto base_after = Snapshot(dir_linux_);
  base_after.erase("console.txt");  // the file the task names
  EXPECT_EQ(base_after, base_before);
  EXPECT_EQ(Snapshot(Linux("JOB")), job_before);
}

INSTANTIATE_TEST_SUITE_P(
    Ends,
    EarlyEndsWithPictures,
    testing::Values(EarlyEnd{"MaxRcZero", 0, 0, 1, 4, "C:\\windows\\nosuch.exe", "RC = 0  "},
                    EarlyEnd{"NullCommand", 4, 1, 1, 4, "", "Null CMD"},
                    EarlyEnd{"Skipped", 4, 3, 1, 2, "C:\\windows\\nosuch.exe", "RC <>   "},
                    EarlyEnd{"FailedLaunch", 4, 1, 1, 4, "C:\\windows\\nosuch.exe", "STEP=?  "}),
    [](const auto& info) { return std::string(info.param.name); });

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
