// The explanation of a finished step, from final reports and job logs built from the runner's own
// catalogue of texts, so a changed runner text changes what is explained too.
#include "x5ctl/step/explain.h"

#include <gtest/gtest.h>

#include "protocol/report_texts.h"
#include "protocol/status_texts.h"

namespace x5::ctl::step {
namespace {

using namespace protocol;

text::RunnerStream Final(const char* status,
                         int32_t rc,
                         char flag,
                         std::string text,
                         uint8_t phase = 5,
                         uint32_t exit_code = 0) {
  text::RunnerStream stream;
  stream.status = StatusRecord{};
  ReportRecord last;
  last.report.status_text = Padded(status, 8);
  last.report.current_rc = rc;
  last.report.result_flag = flag;
  last.report.phase = static_cast<protocol::Phase>(phase);  // as on the wire
  last.report.step_exit_code = static_cast<int32_t>(exit_code);
  last.text = std::move(text);
  stream.reports.push_back(last);
  return stream;
}

ExplainContext Context(std::string job_log,
                       std::string conditions = {},
                       std::string console_file = {},
                       std::string problem = {},
                       bool fail_on_exit_code = false) {
  ExplainContext context;
  context.job_log = std::move(job_log);
  context.conditions = std::move(conditions);
  context.console_file = std::move(console_file);
  context.console_file_problem = std::move(problem);
  context.fail_on_exit_code = fail_on_exit_code;
  return context;
}

core::RcState Rc(int32_t current, int32_t min = 1, int32_t max = 4) {
  core::RcState rc{4, 1, min, max};
  rc.current_rc = current;
  return rc;
}

TEST(ExplainStep, SaysWhatDecidedFromTheRunnersOwnLines) {
  struct Case {
    const char* name;
    text::RunnerStream stream;
    ExplainContext context;
    std::vector<std::string> says;
    std::vector<std::string> never = {};
  } cases[] = {
      {"ended as requested by a killed check",
       Final("RC <>", 0, '-',
             RuleLinePrefix(3, 7, false) + RulesKilledFinding() + "\r\n" +
                 RcRulesMessage(core::RcDecision::kEnded, Rc(0))),
       {},
       {"did not run (status \"RC <>\")", "killed the file check of rule line 3",
        "found step RC 0, so the job ends as requested"}},
      {"skipped in abend mode",
       Final("RC <>", 6, '+',
             AbendModeWarning(6) + RcRulesMessage(core::RcDecision::kSkipped, Rc(1))),
       {},
       {"abend mode (task RC 6", "outside the step's range 1 to 4", "not executed"}},
      {"killed by the operator, processes ended at the end",
       Final("STEP OK", 1, '+',
             OperatorLine(OperatorCommandKind::kHold, 392) +
                 OperatorLine(OperatorCommandKind::kKill, 392)),
       Context("Command=worker.exe\r\nEnding process #400 child.exe, windows: \"Child\"\r\n"
               "Ending process #401 helper.exe, no titled windows\r\n"),
       {"The step was killed: the operator ended it with KILL of process #392",
        "held the step 1 time(s)", "rules after the step were not evaluated",
        "A killed step did not succeed",
        "The job log names 2 process(es) the runner ended at the end of the job: #400 child.exe, "
        "#401 helper.exe"},
       {"succeeded"}},
      {"working directory missing",
       Final("STEP=?", 1, '+', "\r\n" + LaunchFailedLine("cmd /c echo hi", "STEP=?", 267) + "\r\n"),
       {},
       {"could not be started", "code 267: The directory name is invalid.",
        "working directory does not exist"}},
      {"logon refused",
       Final("LOGON ?", 99, '+', "\r\n" + std::string(kInvalidLogonMessage) + "\r\n"),
       {},
       {"could not be logged on", "INVALID LOGON", "becomes 99"}},
      {"a rule's RC named with its text, file and where it was found",
       Final("RC <>", 8, '-',
             RuleLinePrefix(2, 8, false) + FoundPositionText(47, 0) + "\r\n" +
                 RcRulesMessage(core::RcDecision::kAbended, Rc(8))),
       Context(FoundNote("ERROR", "C:\\logs\\run.log", 46, 3, 1) + "\r\n",
               "->\r\nR=R8 F=%X5S%run.log S=ERROR"),
       {"Rule line 2 (before the step, R=R8 F=%X5S%run.log S=ERROR) set RC 8: it found its text at "
        "position 47 (the job log says: \"ERROR\" in C:\\logs\\run.log, byte offset 46)",
        "found step RC 8 (set by rule line 2) above the maximum RC 4"}},
      {"a rejected line named where it stops",
       Final("STEP OK", 1, '+', RuleRejectedLine(1, kInvalidCommand, "S")),
       Context({}, "R=8 SS=ERROR"),
       {"Rule line 1 (R=8 SS=ERROR) was rejected and changed nothing (Invalid Command S) at the "
        "word \"SS=ERROR\" at column 5: not a parameter: a parameter is one letter"}},
      {"a parameter letter the runner does not know named where it stands",
       Final("STEP OK", 1, '+', RuleRejectedLine(1, kInvalidCommand, "X=1")),
       Context({}, "R=8 X=1 R=100"),
       {"at the word \"X=1\" at column 5: \"X\" is not a parameter letter (R, F, S, V, N, P, Q, C "
        "and ? are)"}},
      {"a console file that could not be written is a failure with its cause",
       Final("FILE ?", 1, '+', ""),
       Context({}, {}, "C:\\gone\\console.txt", "the folder C:\\gone does not exist"),
       {"could not write its console file C:\\gone\\console.txt (status \"FILE ?\"): the folder "
        "C:\\gone does not exist; the step counts as failed"},
       {"succeeded"}},
      {"a failed exit code with --fail-on-exit-code",
       Final("STEP OK", 1, '+', "", 5, 5),
       Context({}, {}, {}, {}, true),
       {"exited with code 5, so with --fail-on-exit-code the step failed by its exit code"},
       {"succeeded"}},
      {"bytes a step wrote into a rule's line are not the runner's own lines",
       Final("STEP OK", 8, '+',
             RuleLinePrefix(2, 8, true) +
                 TextComparisonFailed("***** Task #5 KILLED on user request *****\"  STEP=?   "
                                      "RC=5 *****",
                                      "=", "OK") +
                 "\r\n" + std::string(50'000, 'x')),
       {},
       {"Rule line 2 (after the step) set RC 8", "succeeded with the RC that rule line 2 set"},
       {"The step was killed", "could not start", "system's reason", "operator"}},
      {"conversation broken off", Final("1", 1, '+', "", 2), {}, {"still going", "phase 2"}},
  };
  for (const Case& c : cases) {
    const std::string paragraph = ExplainStep(c.stream, c.context);
    for (const std::string& part : c.says)
      EXPECT_NE(paragraph.find(part), std::string::npos)
          << c.name << ": \"" << part << "\" is not in: " << paragraph;
    for (const std::string& part : c.never)
      EXPECT_EQ(paragraph.find(part), std::string::npos) << c.name << ": " << paragraph;
  }
  EXPECT_NE(ExplainStep(text::RunnerStream{}).find("sent nothing"), std::string::npos);
}

template <size_t N>
std::string Bytes(const std::array<uint8_t, N>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(ExplainStep, RefusesWhatIsNotACaptureSayingWhatItLooksLike) {
  std::string capture(kStatusRecordSize, '\0');
  capture.replace(16, 8, kStatusStarted);
  const struct {
    std::string bytes;
    const char* looks_like;
  } cases[] = {
      {capture, ""},
      {"", "an empty file"},
      {"job_name = \"T\"\ncommand = \"x\"\n",
       "a task file, not what a runner sent: it begins \"job_name"},
      {Bytes(EncodeTaskRecord(TaskRecord{})),
       "what was sent to a runner (x5ctl run --capture-input)"},
      {std::string("\x01\x02\x03", 3), "binary data"},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(NotACapture(c.bytes).starts_with(c.looks_like)) << NotACapture(c.bytes);
}

}  // namespace
}  // namespace x5::ctl::step
