// The explanation of a finished step, from final reports and job logs as the runner writes them.
#include "x5ctl/step/explain.h"

#include <gtest/gtest.h>

namespace x5::ctl::step {
namespace {

text::RunnerStream Final(const char* status,
                         int32_t rc,
                         char flag,
                         std::string text,
                         uint8_t phase = 5) {
  text::RunnerStream stream;
  stream.status = protocol::StatusRecord{};
  ReportRecord last;
  last.report.status_text = protocol::Padded(status, 8);
  last.report.current_rc = rc;
  last.report.result_flag = flag;
  last.report.phase = static_cast<protocol::Phase>(phase);  // as on the wire
  last.text = std::move(text);
  stream.reports.push_back(last);
  return stream;
}

TEST(ExplainStep, SaysWhatDecided) {
  struct Case {
    const char* name;
    text::RunnerStream stream;
    std::string job_log;
    std::vector<std::string> says;
    std::vector<std::string> never = {};
  } cases[] = {
      {"ended as requested by a killed check",
       Final("RC <>", 0, '-',
             "-3 RC=7     ***** Task DezaVI KILLED on user request *****\r\n\r\n"
             "***** Task ENDED as requested *****, Step RC=0  / Max RC=4\r\n"),
       "",
       {"did not run (status \"RC <>\")", "killed the file check of rule line 3",
        "found step RC 0, so the job ends as requested"}},
      {"skipped in abend mode",
       Final("RC <>", 6, '+',
             "***** WARNING - ABEND MODE, Task RC= 6 *****\r\n\r\n"
             "***** Task Step NOT executed *****, Step RC=1  / Step Min=1 Max=4  / Max RC=4\r\n"),
       "",
       {"abend mode (task RC 6", "outside the step's range 1 to 4", "not executed"}},
      {"killed by the operator, processes ended at the end",
       Final("STEP OK", 1, '+',
             "\r\n***** Task #392 HOLDED on user request *****\r\n"
             "\r\n***** Task #392 KILLED on user request *****\r\n"),
       "Command=worker.exe\r\nEnding process #400 child.exe, windows: \"Child\"\r\n"
       "Ending process #401 helper.exe, no titled windows\r\n",
       {"The step was killed: the operator ended it with KILL of process #392",
        "held the step 1 time(s)", "rules after the step were not evaluated",
        "A killed step did not succeed",
        "names 2 process(es) the runner ended at the end of the job: #400 child.exe, "
        "#401 helper.exe"},
       {"succeeded"}},
      {"working directory missing",
       Final("STEP=?", 1, '+',
             "\r\n***** Error - Command  \"cmd /c echo hi\"  STEP=?   RC=267 *****\r\n\r\n"),
       "",
       {"could not be started", "code 267: The directory name is invalid.",
        "working directory does not exist"}},
      {"launch failed",
       Final("LOGON ?", 99, '+', "\r\n***** INVALID LOGON  RC=99 *****\r\n\r\n"),
       "",
       {"could not be logged on", "INVALID LOGON", "becomes 99"}},
      {"conversation broken off", Final("1", 1, '+', "", 2), "", {"still going", "phase 2"}},
  };
  for (const Case& c : cases) {
    const std::string paragraph = ExplainStep(c.stream, c.job_log);
    for (const std::string& part : c.says)
      EXPECT_NE(paragraph.find(part), std::string::npos)
          << c.name << ": \"" << part << "\" is not in: " << paragraph;
    for (const std::string& part : c.never)
      EXPECT_EQ(paragraph.find(part), std::string::npos) << c.name << ": " << paragraph;
  }
  EXPECT_NE(ExplainStep(text::RunnerStream{}).find("sent nothing"), std::string::npos);
}

}  // namespace
}  // namespace x5::ctl::step
