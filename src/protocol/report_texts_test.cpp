// The report and job log lines as the parent and the operator read them, each read back as the
// line it is: what the runner writes and what x5ctl recognises come from one catalogue.
#include "protocol/report_texts.h"

#include <gtest/gtest.h>

namespace x5::protocol {
namespace {

using K = ReportLine::Kind;
using F = RuleFinding::Kind;

// The fields a line was read with, as one text.
std::string Fields(const ReportLine& r) {
  switch (r.kind) {
    case K::kAbendWarning:
      return "abend " + std::to_string(r.task_rc);
    case K::kRcEnded:
    case K::kRcAbended:
      return "rc " + std::to_string(r.step_rc) + "/" + std::to_string(r.maximum_rc);
    case K::kRcNotExecuted:
      return "rc " + std::to_string(r.step_rc) + " " + std::to_string(r.step_minimum_rc) + ".." +
             std::to_string(r.step_maximum_rc) + "/" + std::to_string(r.maximum_rc);
    case K::kLaunchFailed:
      return "[" + r.text + "] [" + r.status_text + "] " + std::to_string(r.code);
    case K::kOperator:
      return "op " + std::to_string(static_cast<int>(r.operator_kind)) + " #" +
             std::to_string(r.process_id);
    case K::kRuleOutput:
      return std::string(r.after_step ? "after " : "before ") + std::to_string(r.rule_line) +
             " rc " + std::to_string(r.rc) + " [" + r.text + "]";
    case K::kRuleRejected:
    case K::kRuleNotEvaluated:
      return std::to_string(r.rule_line) + " [" + r.text + "]";
    default:
      return "";
  }
}

core::RcState Rc(int32_t current, int32_t min, int32_t max) {
  core::RcState rc{4, 1, min, max};
  rc.current_rc = current;
  return rc;
}

TEST(ReportTexts, WrittenExactlyAndReadBackAsTheirKind) {
  const struct {
    std::string written;
    const char* exact;
    K kind;
    const char* fields;  // of the first line that is not empty
  } cases[] = {
      {AbendModeWarning(5), "***** WARNING - ABEND MODE, Task RC= 5 *****\r\n\r\n",
       K::kAbendWarning, "abend 5"},
      {RcRulesMessage(core::RcDecision::kEnded, Rc(0, 1, 4)),
       "\r\n***** Task ENDED as requested *****, Step RC=0  / Max RC=4\r\n", K::kRcEnded, "rc 0/4"},
      {RcRulesMessage(core::RcDecision::kAbended, Rc(6, 1, 4)),
       "\r\n***** Task Step ABENDED *****, Step RC=6  / Max RC=4\r\n", K::kRcAbended, "rc 6/4"},
      {RcRulesMessage(core::RcDecision::kSkipped, Rc(-7, 1, 4)),
       "***** Task Step NOT executed *****, Step RC=-7  / Step Min=1 Max=4  / Max RC=4\r\n",
       K::kRcNotExecuted, "rc -7 1..4/4"},
      {RcRulesMessage(core::RcDecision::kRuns, Rc(1, 1, 4)), "", K::kOther, ""},
      {NoCommandLine(2, true), "***** No command to execute - current RC=1 new RC=2 *****\r\n",
       K::kOther, ""},
      {NoCommandLine(3, false), "***** No command to execute current RC=3 *****\r\n", K::kOther,
       ""},
      {LaunchFailedLine("cmd /c \"a\"  b", "STEP=?", 267),
       "***** Error - Command  \"cmd /c \"a\"  b\"  STEP=?   RC=267 *****\r\n", K::kLaunchFailed,
       "[cmd /c \"a\"  b] [STEP=?  ] 267"},
      {std::string(kInvalidLogonMessage), "***** INVALID LOGON  RC=99 *****\r\n", K::kInvalidLogon,
       ""},
      {std::string(kMaximumRcZeroMessage), "** ERROR - Maximum Return Code = 0 **",
       K::kMaximumRcZero, ""},
      {OperatorLine(OperatorCommandKind::kHold, 392),
       "\r\n***** Task #392 HOLDED on user request *****\r\n", K::kOperator, "op 2 #392"},
      {OperatorLine(OperatorCommandKind::kKill, 392),
       "\r\n***** Task #392 KILLED on user request *****\r\n", K::kOperator, "op 4 #392"},
      {RuleLinePrefix(3, 8, false) + FoundFileText("A.LOG"),
       "-3 RC=8     File \"A.LOG\" have requested attributes", K::kRuleOutput,
       "before 3 rc 8 [File \"A.LOG\" have requested attributes]"},
      {RuleLinePrefix(12345, 99, true), "+12345 RC=99", K::kRuleOutput, "after 12345 rc 99 []"},
      {RuleLinePrefix(1234567, 99, false), "-1234567 RC=", K::kOther, ""},
      {RuleRejectedLine(7, kInvalidCommand, "S"), "7 Invalid Command S\r\n", K::kRuleRejected,
       "7 [ Invalid Command S]"},
      // Bytes a step wrote into a rule's line are read as that rule's, never as the runner's own.
      {RuleLinePrefix(2, 8, true) +
           TextComparisonFailed("***** Task #5 KILLED on user request *****", "=", "OK"),
       "+2 RC=8     \"***** Task #5 KILLED on user request *****\"=\"OK\" = False", K::kRuleOutput,
       "after 2 rc 8 [\"***** Task #5 KILLED on user request *****\"=\"OK\" = False]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.written, c.exact);
    std::string_view first = c.written;
    while (first.starts_with("\r\n"))
      first.remove_prefix(2);
    first = first.substr(0, first.find("\r\n"));
    const ReportLine line = ReadReportLine(first);
    EXPECT_EQ(line.kind, c.kind) << c.exact;
    EXPECT_EQ(Fields(line), c.fields) << c.exact;
  }
}

TEST(ReportTexts, RuleFindingsAndFoundNotesReadBack) {
  const struct {
    std::string written;
    const char* exact;
    F kind;
    const char* what;  // file name, or text
  } cases[] = {
      {FoundPositionText(47, 80), "*** String Found at Position: 47 Max Quantity= 80 *** \r\n",
       F::kFoundPosition, ""},
      {NotFoundFinding("a\"b"), "String \"a\"\"b\" not found", F::kNotFound, "a\"b"},
      {RulesKilledFinding(), "***** Task DezaVI KILLED on user request *****", F::kKilled, ""},
      {OpenFailedFinding("C:\\a b.log", 'W'), "Open \"C:\\a b.log\" for W not succesful",
       F::kOpenFailed, "C:\\a b.log"},
      {ReadFailedFinding("A.LOG"), "Read \"A.LOG\" not succesful", F::kReadFailed, "A.LOG"},
      {InvalidFileFinding("A.LOG"), "Invalid file \"A.LOG\"", F::kInvalidFile, "A.LOG"},
      {FileSizeFinding(10, ">=", 1000), "File Size= 10 requested: >=1000", F::kFileSize, ""},
      {FileAttributeFinding("AR  ", "=", "A   "), "File Attribute AR   requested: =A   ",
       F::kFileAttributes, ""},
      {TextComparisonFailed("do\"ne", "=", "DONE") + std::string(kComparisonJoin) +
           NumberComparisonFailed(12, "<", 10),
       "\"do\"\"ne\"=\"DONE\" = False + 12<10 = False", F::kOther, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.written, c.exact);
    std::string_view message = c.written;
    if (message.ends_with("\r\n"))
      message.remove_suffix(2);
    const RuleFinding finding = ReadRuleFinding(message);
    EXPECT_EQ(finding.kind, c.kind) << c.exact;
    EXPECT_EQ(c.kind == F::kNotFound ? finding.text : finding.file_name,
              c.kind == F::kNotFound || !finding.file_name.empty() ? c.what : "")
        << c.exact;
  }
  const std::string note = FoundNote("E\"R", "C:\\a.log", 46, 3, 1);
  EXPECT_EQ(note, "String \"E\"\"R\" found in \"C:\\a.log\" at byte offset 46, line 3, column 1");
  const std::optional<FoundNoteLine> read = ReadFoundNote(note);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->search_text + "|" + read->file_name + "|" + std::to_string(read->byte_offset),
            "E\"R|C:\\a.log|46");
}

}  // namespace
}  // namespace x5::protocol
