// The runner's end states, reached through its pipes exactly as a parent reaches them.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using MainSequence = RunnerTest;

TEST_F(MainSequence, StepRunsReportsAndEndsWithEnd) {
  Start(Task(step_ + " echo hello-from-step sleep 800 exit 3"));
  ReportRecord r = Exchange("STAT");
  EXPECT_EQ(r.report.status_text, "1       ");
  EXPECT_EQ(r.report.status_code, kStillRunning);
  EXPECT_EQ(r.report.phase, 2);
  EXPECT_EQ(r.report.report_text_length, 0);
  EXPECT_EQ(r.report.version, 1);
  EXPECT_EQ(r.report.current_rc, 1);  // the rules ran before the launch
  EXPECT_EQ(r.report.result_flag, '+');
  EXPECT_GT(r.report.start_time, 0);
  EXPECT_EQ(r.report.end_time, 0);

  ReportRecord final_report = StatUntilFinal();
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.report.status_code, 0);
  EXPECT_EQ(final_report.report.phase, 4);
  EXPECT_EQ(final_report.report.current_rc, 1);  // the step's exit code plays no part
  EXPECT_GE(final_report.report.end_time, final_report.report.start_time);
  EXPECT_EQ(final_report.report.report_text_length, static_cast<int32_t>(final_report.text.size()));
  EndConversation();

  const std::string console = ReadFileText(Linux("console.txt"));
  EXPECT_NE(console.find("hello-from-step\r\n"), std::string::npos) << console;
  EXPECT_NE(console.find("tester/JOB." + std::to_string(job_number_) + ".1  JOB# "),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("Command=" + step_ + " echo hello-from-step sleep 800 exit 3\r\n"),
            std::string::npos);
  EXPECT_NE(console.find("=STEP OK /0\r\n"), std::string::npos);
  EXPECT_NE(console.find("\r\nStarted "), std::string::npos);
  EXPECT_NE(console.find("\r\nEnded   "), std::string::npos);
  EXPECT_NE(console.find("Processes 1\r\n"), std::string::npos);
  EXPECT_NE(console.find("\r\n" + std::string(80, '_') + "\r\n"), std::string::npos);
  EXPECT_EQ(console.find(" \r\n"), std::string::npos) << "trailing blanks in the saved console";
}

// Files named as pictures and picture leftovers are, and a picture request.
void PlantSentinels(const fs::path& dir) {
  fs::create_directories(dir);
  for (const char* name : {"#1_1#2_old.JPG", "#1_1#2_old.bmp", "#1_1#2_old.jpg.x5part", "_X5C_"})
    std::ofstream(dir / name, std::ios::binary) << "sentinel " << name;
}

struct EarlyEnd {
  const char* name;
  int32_t maximum_rc, task_rc, step_min, step_max;
  const char* command;  // "" for an empty command block; "@" for the step helper
  const char* status_text;
  int32_t current_rc;
  char flag;
  const char* report_text;
  const char* console_line;  // in the job log, or ""
};

class EarlyEnds : public RunnerTest, public testing::WithParamInterface<EarlyEnd> {};

// With pictures on, an early end also leaves the runner's current directory, the job base
// directory and the job folder alone: no old picture, leftover or request outside the step folder
// is deleted.
TEST_P(EarlyEnds, FinalReportsCarryTheStateAndTextAndTouchNothingOutsideTheStep) {
  const EarlyEnd& c = GetParam();
  const fs::path cwd = Linux("cwd");
  for (const fs::path& dir : {cwd, dir_linux_, Linux("JOB")})
    PlantSentinels(dir);
  const auto cwd_before = Snapshot(cwd);
  const auto base_before = Snapshot(dir_linux_);
  const auto job_before = Snapshot(Linux("JOB"));
  TaskRecord t = Task(std::string(c.command) == "@" ? step_ + " exit 0" : c.command);
  t.maximum_rc = c.maximum_rc;
  t.task_rc = c.task_rc;
  t.step_minimum_rc = c.step_min;
  t.step_maximum_rc = c.step_max;
  t.picture_interval = 200;
  Start(t, cwd);
  EXPECT_EQ(Exchange("DIAG", -1).report.status_text, c.status_text);
  ReportRecord r = Exchange("STAT");
  EXPECT_EQ(r.report.status_text, c.status_text);
  EXPECT_EQ(r.report.phase, 4);
  EXPECT_EQ(r.report.current_rc, c.current_rc);
  EXPECT_EQ(r.report.result_flag, c.flag);
  EXPECT_EQ(r.text, c.report_text);
  EXPECT_EQ(r.report.report_text_length, static_cast<int32_t>(r.text.size()));
  EXPECT_EQ(EndConversation().text, c.report_text);
  const std::string console = ReadFileText(Linux("console.txt"));
  EXPECT_TRUE(Contains(console, c.console_line)) << console;

  EXPECT_EQ(Snapshot(cwd), cwd_before);
  auto base_after = Snapshot(dir_linux_);
  base_after.erase("console.txt");  // the file the task names
  EXPECT_EQ(base_after, base_before);
  EXPECT_EQ(Snapshot(Linux("JOB")), job_before);
}

INSTANTIATE_TEST_SUITE_P(
    Ends,
    EarlyEnds,
    testing::Values(
        EarlyEnd{"MaxRcZero", 0, 0, 1, 4, "@", "RC = 0  ", 0, '-',
                 "** ERROR - Maximum Return Code = 0 **", ""},
        EarlyEnd{"MaxRcZeroInAbendMode", 0, 3, 1, 4, "@", "RC = 0  ", 3, '-',
                 "***** WARNING - ABEND MODE, Task RC= 3 *****\r\n\r\n"
                 "** ERROR - Maximum Return Code = 0 **",
                 ""},
        EarlyEnd{"NullCommandRaisesOneToTwo", 4, 1, 1, 4, "", "Null CMD", 2, '+', "",
                 "***** No command to execute - current RC=1 new RC=2 *****\r\n\r\n"},
        EarlyEnd{"NullCommandKeepsThree", 4, 3, 1, 4, "", "Null CMD", 3, '+', "", ""},
        EarlyEnd{
            "Skipped", 4, 3, 1, 2, "@", "RC <>   ", 3, '+',
            "***** Task Step NOT executed *****, Step RC=3  / Step Min=1 Max=2  / Max RC=4\r\n",
            ""},
        EarlyEnd{
            "AbendSkipped", 4, 5, 1, 4, "@", "RC <>   ", 5, '+',
            "***** WARNING - ABEND MODE, Task RC= 5 *****\r\n\r\n"
            "***** Task Step NOT executed *****, Step RC=1  / Step Min=1 Max=4  / Max RC=4\r\n",
            ""},
        EarlyEnd{"EndedAsRequested", 4, 0, 0, 4, "@", "RC <>   ", 0, '-',
                 "\r\n***** Task ENDED as requested *****, Step RC=0  / Max RC=4\r\n", ""},
        EarlyEnd{"CommandNotFound", 4, 1, 1, 4, "C:\\windows\\nosuch.exe", "STEP=?  ", 99, '+',
                 "\r\n***** Error - Command  \"C:\\windows\\nosuch.exe\"  STEP=?   RC=2 *****"
                 "\r\n\r\n",
                 ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace x5::e2e
