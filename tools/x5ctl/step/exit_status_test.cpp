// The exit status table of `x5ctl exec`, row by row.
#include "x5ctl/step/exit_status.h"

#include <gtest/gtest.h>

namespace x5::ctl::step {
namespace {

protocol::StepReport Final(const char* status_text, char flag, int32_t current_rc) {
  protocol::StepReport report;
  report.status_text = protocol::Padded(status_text, 8);
  report.result_flag = flag;
  report.current_rc = current_rc;
  report.phase = protocol::Phase::kEndReceived;
  return report;
}

struct Row {
  const char* name;
  const char* status_text;
  char flag;
  int32_t current_rc;
  int expected;
};

// One row per branch of the documented table, with the clamping edges of the failure band.
const Row kRows[] = {
    {"RanAndGoesOn", "STEP OK", '+', 1, kExecSucceeded},
    {"EndedAsRequestedAfterTheStep", "STEP OK", '-', 0, kExecEnded},
    {"AbendedAfterTheStep", "STEP OK", '-', 8, 8},
    {"AbendedWithAnRcAboveTheBand", "STEP OK", '-', 5000, kExecHighestRc},
    {"AbendedBeforeTheStep", "RC <>", '-', 7, 7},
    {"Skipped", "RC <>", '+', 3, kExecSkipped},
    {"NoCommandWhileEnding", "Null CMD", '-', 0, kExecNoCommand},
    {"LaunchFailed", "STEP=?", '+', 99, 99},
    {"ConsoleFileNotWritten", "FILE ?", '+', 1, 1},
    {"MaximumRcZeroIsNoRequestedEnd", "RC = 0", '-', 0, 1},
    {"UnknownFlag", "STEP OK", '?', 2, 2},
};

TEST(ExecOutcome, FinalReportGivesItsStatus) {
  for (const Row& row : kRows) {
    const ExecOutcome outcome = OutcomeOfExec(ConversationEnd::kCompleted,
                                              Final(row.status_text, row.flag, row.current_rc), 0);
    EXPECT_EQ(outcome.status, row.expected) << row.name << ": " << outcome.meaning;
    EXPECT_FALSE(outcome.meaning.empty()) << row.name;
  }
}

// The step's own exit code: named whenever the step ran, a status of its own only on request and
// only where the step would otherwise count as a success.
TEST(ExecOutcome, StepExitCodeIsNamedAndFailsOnlyOnRequest) {
  struct ExitRow {
    const char* name;
    protocol::StepReport report;
    uint32_t exit_code;
    int stop_signal;
    bool fail;
    int expected;
    const char* in_meaning;
  };
  const ExitRow rows[] = {
      {"Shown", Final("STEP OK", '+', 1), 3, 0, false, kExecSucceeded, "; step exit code 3"},
      {"Fails", Final("STEP OK", '+', 1), 3, 0, true, 3, "main process failed: step exit code 3"},
      {"ZeroStaysOk", Final("STEP OK", '+', 1), 0, 0, true, kExecSucceeded, "step exit code 0"},
      {"StatusCode", Final("STEP OK", '+', 1), 0xC0000005, 0, true, kExecHighestRc,
       "3221225477 (0xC0000005)"},
      {"AbendKeepsItsRc", Final("STEP OK", '-', 8), 3, 0, true, 8, "step exit code 3"},
      {"SignalOutranks", Final("STEP OK", '+', 1), 143, 15, true, 143, "signal 15"},
      {"SkippedHasNone", Final("RC <>", '+', 3), 0, 0, true, kExecSkipped, "not executed"},
  };
  for (const ExitRow& row : rows) {
    protocol::StepReport report = row.report;
    report.step_exit_code = static_cast<int32_t>(row.exit_code);
    const ExecOutcome outcome =
        WithStepExitCode(OutcomeOfExec(ConversationEnd::kCompleted, report, row.stop_signal),
                         report, row.stop_signal, row.fail);
    EXPECT_EQ(outcome.status, row.expected) << row.name << ": " << outcome.meaning;
    EXPECT_NE(outcome.meaning.find(row.in_meaning), std::string::npos)
        << row.name << ": " << outcome.meaning;
  }
  EXPECT_EQ(StepExitCodeOf(Final("RC <>", '+', 3)), std::nullopt);
  // A time limit that was up outranks the final report of the step it killed; a signal outranks it.
  EXPECT_EQ(OutcomeOfExec(ConversationEnd::kCompleted, Final("STEP OK", '+', 1), 0, 30).status,
            kExecTimeLimit);
  EXPECT_EQ(OutcomeOfExec(ConversationEnd::kCompleted, Final("STEP OK", '+', 1), 15, 30).status,
            kExecSignalBase + 15);
}

}  // namespace
}  // namespace x5::ctl::step
