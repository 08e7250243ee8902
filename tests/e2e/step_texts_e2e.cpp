// The step's texts end to end: variables and global parameters, condition rules before and after
// the step, internal switches and the command line they leave.
#include <nlohmann/json.hpp>

#include "e2e_support.h"
#include "x5ctl/step/exit_status.h"

namespace x5::e2e {
namespace {

using Variables = RunnerTest;
using Conditions = RunnerTest;
using Commands = RunnerTest;

// A SET line reaches the step, a global parameter its file; a rule after the step reads what the
// step wrote and writes the RC to a parameter. How blocks split into lines, and loading parameter
// files in the next run, have unit tests (and the password test loads them through a second run).
TEST_F(Variables, SetLinesGlobalParametersAndPostStepRulesReachTheStepAndItsFiles) {
  const std::string log = Win("step.log");
  protocol::TaskRecord t =
      Task(step_ + " envfile A " + Win("a.txt") + " write " + log + " ERROR-42");
  blocks_.variables = "SET A=1;SET X$=5";
  // Found by the first rule (a reverse rule fires on a hit), found by the second (a normal rule
  // fires when its text is missing); only the first sets the RC.
  blocks_.conditions = "+>\r\nR=R3 F=" + log + " S=error ?=RES$\r\nR=2 F=" + log + " S=ERROR-42";
  Start(t);
  ctl::step::ReportRecord r = StatUntilFinal();
  EXPECT_EQ(r.report.status_text, "STEP OK ");
  EXPECT_EQ(r.report.current_rc, 3);
  EXPECT_EQ(r.text, "+2 RC=3     *** String Found at Position: 1 Max Quantity= 0 *** \r\n\r\n");
  EndConversation();
  EXPECT_EQ(ReadFileText(Linux("a.txt")), "1");
  EXPECT_EQ(ReadFileText(Linux("JOB/S01/X$.$$$")), "\"5\"\r\n");
  EXPECT_EQ(ReadFileText(Linux("JOB/S01/RES$.$$$")), "\"3\"\r\n");
  EXPECT_TRUE(Contains(Unwrapped(ReadFileText(Linux("console.txt"))),
                       "/X5  Global parameter X$ written to " + Win("JOB\\S01\\X$.$$$") + "\r\n"));
}

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

  const std::string toml =
      TaskFileHead() + "user_name = 'tester'\nfile_buffer_size = 1024\ncommand = '''/X5S G$=1\n" +
      "/X5R a b " + Win("edit.txt") + "\n/X5P\n" + step_ + " write " + Win("ran.txt") +
      " yes'''\nconditions = 'R=5 F=" + Win("big.bin") + " S=NEEDLE'\n";
  WriteText(Linux("edit.txt"), "a");
  WriteText(Linux("task.toml"), toml);

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
  // After the KILL no switch was carried out either.
  EXPECT_EQ(ReadFileText(Linux("edit.txt")), "a");
  EXPECT_FALSE(fs::exists(Linux("JOB/S01/G$.$$$")));
  EXPECT_FALSE(fs::exists(Linux("JOB/S01/Printers.txt")));
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
  const std::string console = Unwrapped(ReadFileText(Linux("console.txt")));
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
  const std::string console = Unwrapped(ReadFileText(Linux("console.txt")));
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

// The edit of a read-only file: to itself, or to it from another file.
struct FailedSave {
  const char* name;
  std::vector<const char*> files;  // after "/X5R foo bar ", in the test folder
};

class FailedSaves : public RunnerTest, public testing::WithParamInterface<FailedSave> {};

TEST_P(FailedSaves, LeaveTheTargetByteForByte) {
  const std::string original("keep foo\r\n\0\xff foo\n", 17);
  WriteText(Linux("ro.txt"), original);
  WriteText(Linux("in.txt"), "foo in\r\n");
  // Read-only as Windows sees it.
  fs::permissions(Linux("ro.txt"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  std::string command = "/X5R foo bar";
  for (const char* file : GetParam().files)
    command += " " + Win(file);
  Start(Task(command + "\r\n" + step_ + " exit 0"));
  // The step would read a file that was not edited: it does not run, and the job is abended.
  ctl::step::ReportRecord r = StatUntilFinal();
  EXPECT_EQ(r.report.status_text, "RC <>   ");
  EXPECT_EQ(r.report.current_rc, 5);
  EXPECT_EQ(r.text, "\r\n***** Task Step ABENDED *****, Step RC=5  / Max RC=4\r\n");
  EndConversation();
  EXPECT_TRUE(Contains(Unwrapped(ReadFileText(Linux("console.txt"))),
                       "ERROR - File NOT saved: " + Win("ro.txt") + "\r\n"));
  // Nothing left beside the files, however the save went.
  std::map<std::string, std::string> expected{{"ro.txt", original}, {"in.txt", "foo in\r\n"}};
  expected["JOB"] = "<dir>";
  auto after = Snapshot(dir_linux_);
  after.erase("console.txt");
  EXPECT_EQ(after, expected);
}

INSTANTIATE_TEST_SUITE_P(Commands,
                         FailedSaves,
                         testing::Values(FailedSave{"SameFile", {"ro.txt"}},
                                         FailedSave{"OtherOutput", {"in.txt", "ro.txt"}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace x5::e2e
