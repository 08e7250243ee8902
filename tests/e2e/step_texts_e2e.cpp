// The step's texts end to end: a long search that operator commands reach, internal switches and
// the command line they leave.
#include <nlohmann/json.hpp>

#include "e2e_support.h"
#include "x5ctl/step/exit_status.h"

namespace x5::e2e {
namespace {

using Conditions = RunnerTest;
using Commands = RunnerTest;

// The runner looks for operator commands during a long search only when its input is a pipe made
// inside Windows, so this conversation goes through the Windows build of x5ctl.
TEST_F(Conditions, HoldAndKillArriveDuringALongSearch) {
  const fs::path x5ctl = fs::absolute(fs::path(mingw_) / "x5ctl.exe");
  ASSERT_TRUE(fs::exists(x5ctl)) << x5ctl;
  std::string runner_windows = "Z:" + fs::absolute(runner_).string();
  std::replace(runner_windows.begin(), runner_windows.end(), '/', '\\');

  // Sparse: no disk space, but a search through it takes minutes with 1 KB reads.
  const fs::path big = Linux("big.bin");
  { std::ofstream touch(big, std::ios::binary); }
  fs::resize_file(big, uint64_t{16} << 30);
  struct Remove {
    fs::path path;
    ~Remove() { fs::remove(path); }
  } remove_big{big};

  WriteText(Linux("task.toml"),
            TaskFileHead() + "user_name = 'tester'\nfile_buffer_size = 1024\ncommand = '" + step_ +
                " write " + Win("ran.txt") + " yes'\nconditions = 'R=5 F=" + Win("big.bin") +
                " S=NEEDLE'\n");

  const Ran ran = RunProgram({"wine", x5ctl.string(), "run", Win("task.toml"), "--json", "--runner",
                              runner_windows, "--timeout", "120", "--op", "STOP", "--after", "1500",
                              "--op", "STAT", "--after", "500", "--op", "KILL"},
                             std::chrono::minutes(5));
  const std::string& out = ran.out;
  // The killed check sets the step RC value 0: the job ends as requested.
  EXPECT_EQ(ran.code, std::optional<int32_t>(ctl::step::kExecEnded)) << out;

  std::vector<nlohmann::json> reports;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << line;
    if (record.value("record", "") == "report")
      reports.push_back(record);
  }
  // One report for each command of the hold, from the search; then the final ones.
  ASSERT_GE(reports.size(), 4u) << out;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reports[i]["phase"], 1) << out;
    EXPECT_EQ(reports[i]["report_text_length"], 0) << out;
  }
  // The search read nothing while it was held: the kilobytes it counts stood still.
  EXPECT_GT(reports[0]["io_count_raw"], 0) << out;
  EXPECT_EQ(reports[1]["io_count_raw"], reports[0]["io_count_raw"]) << out;
  EXPECT_EQ(reports[2]["io_count_raw"], reports[0]["io_count_raw"]) << out;
  const nlohmann::json& last = reports.back();
  EXPECT_EQ(last["phase"], 5) << out;
  EXPECT_EQ(last["status_text"], "RC <>   ");
  EXPECT_EQ(last["report_text"],
            "-1 RC=5     ***** Task DezaVI KILLED on user request *****\r\n"
            "\r\n***** Task ENDED as requested *****, Step RC=0  / Max RC=4\r\n");
  EXPECT_FALSE(fs::exists(Linux("ran.txt"))) << "the step ran";
}

TEST_F(Commands, DocumentIsOpenedWithItsAssociatedProgram) {
  // A fresh prefix associates no program with .txt; the test registers a type of its own whose
  // program is the step helper, so the step shows what it was started with.
  ASSERT_EQ(RunWine({"reg", "add", "HKCR\\.x5e2edoc", "/ve", "/d", "x5e2edocfile", "/f"}).code, 0);
  ASSERT_EQ(RunWine({"reg", "add", "HKCR\\x5e2edocfile\\shell\\open\\command", "/ve", "/d",
                     "\"" + step_ + "\" \"%1\"", "/f"})
                .code,
            0);
  WriteText(Linux("report.x5e2edoc"), "a document\r\n");
  Start(Task("/X5?\r\n" + Win("report.x5e2edoc") + " echo opened-by-association"));
  EXPECT_EQ(StatUntilFinal().report.status_text, "STEP OK ");
  EndConversation();
  const std::string console = ReadFileText(Linux("console.txt"));
  // The program, a blank, the document, its parameters: as the step was started and as the job
  // log shows it after /X5?.
  EXPECT_TRUE(Contains(console, "opened-by-association\r\n")) << console;
  EXPECT_TRUE(Contains(console, "Command=" + step_ + " " + Win("report.x5e2edoc") +
                                    " echo opened-by-association\r\n"))
      << console;
}

TEST_F(Commands, SwitchesPrepareWhatTheProgramThenReads) {
  WriteText(Linux("data.txt"), "alpha foo FOO Bar bar\r\n");
  // A second name for the file: an edit that replaces the file in one step leaves it as it was.
  fs::create_hard_link(Linux("data.txt"), Linux("before.txt"));
  const std::string data = Win("data.txt");
  Start(Task("/X5P\r\n/X5R foo zap " + data + "\r\n/x5l bar baz\r\n/X5S;A=1;B=two words\r\n" +
             "/X5J B1000\r\n/X5J -1\r\n" + step_ + " type " + data + " env A env B /X5S C=3"));
  EXPECT_EQ(StatUntilFinal().report.status_text, "STEP OK ");
  EndConversation();
  EXPECT_EQ(ReadFileText(Linux("data.txt")), "alpha zap zap Bar baz\r\n");
  EXPECT_EQ(ReadFileText(Linux("before.txt")), "alpha foo FOO Bar bar\r\n")
      << "the edit was written into the file where it stands";
  EXPECT_EQ(ReadFileText(Linux("JOB/S01/Printers.txt")), "Printing Off: \r\n");
  const std::string console = ReadFileText(Linux("console.txt"));
  // The printer report: two line ends, the file's name, the report, two line ends (the saved
  // console is trimmed).
  EXPECT_TRUE(Contains(
      console, "\r\n\r\n" + Win("JOB\\S01\\Printers.txt") + "\r\nPrinting Off:\r\n\r\n\r\n"))
      << console;
  // The switches' lines, then the program's output after the saved edit (each text has a unit
  // test).
  size_t at = 0;
  for (const std::string& expected :
       {std::string("Replace succesful (23 bytes)"), std::string("/X5S SET B=two words"),
        std::string("***** /X5J <0 - JPG or BMP diagnostic pictures will not be produced! *****"),
        std::string("/X5S SET C=3"), "File " + data + " (23 bytes) saved",
        std::string("alpha zap zap Bar baz"), std::string("A=1"), std::string("B=two words"),
        "Command=" + step_ + " type " + data + " env A env B"}) {
    at = console.find(expected + "\r\n", at);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: " << expected << "\n" << console;
  }
}

// The edit of a read-only file fails: the file stays byte for byte and nothing is left beside it.
TEST_F(Commands, FailedSaveLeavesTheTargetByteForByte) {
  const std::string original("keep foo\r\n\0\xff foo\n", 17);
  WriteText(Linux("ro.txt"), original);
  // Read-only as Windows sees it.
  fs::permissions(Linux("ro.txt"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Start(Task("/X5R foo bar " + Win("ro.txt") + "\r\n" + step_ + " exit 0"));
  // The step would read a file that was not edited: it does not run, and the job is abended.
  ctl::step::ReportRecord r = StatUntilFinal();
  EXPECT_EQ(r.report.status_text, "RC <>   ");
  EXPECT_EQ(r.report.current_rc, 5);
  EXPECT_EQ(r.text, "\r\n***** Task Step ABENDED *****, Step RC=5  / Max RC=4\r\n");
  EndConversation();
  EXPECT_TRUE(Contains(ReadFileText(Linux("console.txt")),
                       "ERROR - File NOT saved: " + Win("ro.txt") + "\r\n"));
  // Nothing left beside the file, however the save went.
  auto after = Snapshot(dir_linux_);
  after.erase("console.txt");
  EXPECT_EQ(after, (std::map<std::string, std::string>{{"ro.txt", original}, {"JOB", "<dir>"}}));
}

}  // namespace
}  // namespace x5::e2e
