// Tests of evaluating one rule line against files: outputs, return codes, variables, searches with
// counts, columns, windows and case folding, open failures, kills and the console note.
#include "conditions/file_rule.h"

#include <gtest/gtest.h>

#include <new>

#include "conditions/testing/rule_harness.h"

namespace x5::conditions {
namespace {

// What a reverse rule with RC 1 reports when its text was found.
std::string Found(int position) {
  return "-1 RC=1     *** String Found at Position: " + std::to_string(position) +
         " Max Quantity= 0 *** \r\n\r\n";
}

TEST(CheckFileRuleTest, MissingFilesAndFileFacts) {
  conditions::testing::RuleHarness h;
  h.rc.step_rc_value = 2;
  EXPECT_EQ(h.Line1("R=8 F=A.LOG"), "");
  EXPECT_EQ(h.rc.step_rc_value, 2);
  EXPECT_EQ(h.Line1("R=8 F=(A.LOG > 0)"), "-1 RC=8     Invalid file \"A.LOG\"\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 8);
  EXPECT_EQ(h.Line1("R=R4 F=A.LOG"), "");  // a reverse rule reports nothing for a missing file
  EXPECT_EQ(h.Line1("R=3 F=(A.LOG <= 0)"), "");

  h.files.Add("A.LOG", "0123456789");
  h.files.files["A.LOG"].facts.read_only = true;
  EXPECT_EQ(h.Line1("R=R4 F=A.LOG"), "-1 RC=4     File \"A.LOG\" have requested attributes\r\n");
  EXPECT_EQ(h.Line1("R=5 F=(A.LOG >= 1000)"), "-1 RC=5     File Size= 10 requested: >=1000\r\n");
  EXPECT_EQ(h.Line1("R=5 F=(A.LOG >= 0 = A)"),
            "-1 RC=5     File Attribute AR   requested: =A   \r\n");
  EXPECT_EQ(h.Line1("R=5 F=(A.LOG >= 0 <> A)"), "");
  EXPECT_EQ(h.Line1("R=5 F=(A.LOG >= 0 = AR)"), "");
  EXPECT_EQ(h.Line1("R=5 F=(A.LOG > 0 <> H)"),
            "-1 RC=5     File Attribute AR   requested: <>   H\r\n");

  // A hidden file counts as missing.
  h.files.files["A.LOG"].findable = false;
  EXPECT_EQ(h.Line1("R=R4 F=A.LOG"), "");
}

TEST(CheckFileRuleTest, ReturnCodeRisesOrDropsToZero) {
  conditions::testing::RuleHarness h;
  h.rc.step_rc_value = 6;
  EXPECT_EQ(h.Line1("R=4 F=(NONE > 0)"), "-1 RC=4     Invalid file \"NONE\"\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 6);
  EXPECT_EQ(h.Line1("F=(NONE > 0)"), "-1 RC=0     Invalid file \"NONE\"\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 0);
  EXPECT_EQ(h.Line1("R=7 F=(NONE > 0) ?=RES"), "-1 RC=7     Invalid file \"NONE\"\r\n");
  EXPECT_EQ(h.Line1("R=9 F=NONE ?=RES"), "");
  EXPECT_EQ(h.variables, (std::vector<std::string>{"RES=7", "RES=9"}));
}

TEST(CheckFileRuleTest, SearchDirectionCountsAndFolding) {
  conditions::testing::RuleHarness h;
  h.files.Add("A.LOG", "AAAA");
  // Forward N=2 over AAAA finds 1 and 2.
  EXPECT_EQ(h.Line1("R=R1 F=A.LOG S=AA N=2", true), Found(2));
  // Backward (no marker) finds the last occurrence first: 3, then 2.
  // The occurrence count is kept from line to line: N=0 asks for the first again.
  EXPECT_EQ(h.Line1("R=R1 F=A.LOG S=AA N=0"), Found(3));
  // Backward, each next window ends before the last hit: 3, then 1.
  EXPECT_EQ(h.Line1("R=R1 F=A.LOG S=AA N=2"), Found(1));
  EXPECT_EQ(h.Line1("R=2 F=A.LOG S=AA N=4"), "-1 RC=2     String \"AA\" not found\r\n");

  h.files.Add("B.LOG", "x Error y ERROR z error");
  EXPECT_EQ(h.Line1("R=R1 F=B.LOG S=error C=N N=0", true), Found(19));
  EXPECT_EQ(h.Line1("R=3 F=B.LOG S=Error C=N N=2", true),
            "-1 RC=3     String \"Error\" not found\r\n");
  EXPECT_EQ(h.Line1("R=3 F=B.LOG S=(\"a\"\"b\")", true),
            "-1 RC=3     String \"A\"\"B\" not found\r\n");  // the mark shown doubled
}

TEST(CheckFileRuleTest, ColumnsWindowsAndStartPositions) {
  conditions::testing::RuleHarness h;
  h.files.Add("C.LOG", "ERR one\nx ERR two\nERR three");
  // S=(1, ...) counts only hits at the start of a line.
  EXPECT_EQ(h.Line1("R=R1 F=C.LOG S=(1, \"ERR\") N=2", true), Found(19));
  EXPECT_EQ(h.Line1("R=R1 F=C.LOG S=(3, ERR) N=1", true), Found(11));

  // Q below 80 is raised to 80: the window is position .. position + 80.
  std::string data(200, '.');
  data.replace(120, 3, "HIT");
  h.files.Add("Q.LOG", data);
  const std::string no_hit = "-1 RC=2     String \"HIT\" not found\r\n";
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=(0, HIT) Q=50 P=43 N=0", true), "");  // column 0: any
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=HIT Q=50 P=42", true), no_hit);
  // Backward from P with a quantity: the window is P - Q - 1 .. P (P beyond the end: the end).
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=HIT Q=80 P=201"), "");
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=HIT Q=80 P=203"), no_hit);
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=HIT Q=80 P=123"), "");
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=HIT Q=80 P=122"), no_hit);
  // The condition line width is the default quantity.
  h.context.limits.line_width = 80;
  EXPECT_EQ(h.Line1("R=2 F=Q.LOG S=HIT P=1", true), no_hit);
}

TEST(CheckFileRuleTest, OpenAndReadFailures) {
  conditions::testing::RuleHarness h;
  h.files.Add("W.LOG", "data");
  h.files.files["W.LOG"].open_fails = true;
  EXPECT_EQ(h.Line1("R=6 F=(W, W.LOG)"), "-1 RC=6     Open \"W.LOG\" for W not succesful\r\n");
  EXPECT_EQ(h.Line1("R=R6 F=(W, W.LOG)"), "");

  h.files.Add("R.LOG", std::string(300000, 'r'));
  h.files.files["R.LOG"].fail_from = 1000;
  EXPECT_EQ(h.Line1("R=8 F=R.LOG S=NEEDLE", true), "-1 RC=8     Read \"R.LOG\" not succesful\r\n");
}

TEST(CheckFileRuleTest, ConsoleNotesWhereTheTextWasFound) {
  conditions::testing::RuleHarness h;
  h.files.Add("N.LOG", "first line\nsecond ERROR line\n");
  EXPECT_EQ(h.Line1("R=1 F=N.LOG S=error", true), "");
  ASSERT_EQ(h.console.size(), 1u);
  EXPECT_EQ(h.console[0],
            "String \"ERROR\" found in \"N.LOG\" at byte offset 18, line 2, column 8");
  EXPECT_EQ(h.Line1("R=1 F=N.LOG S=missing", true), "-1 RC=1     String \"MISSING\" not found\r\n");
  EXPECT_EQ(h.console.size(), 1u);
  h.files.Add("T\x1BLOG", "\x7F\x7F");
  EXPECT_EQ(h.Line1("R=1 F=T\x1BLOG S=\x7F C=N", true), "");
  EXPECT_EQ(h.console.back(),
            "String \"^?\" found in \"T^[LOG\" at byte offset 0, line 1, column 1");
}

// Rule files whose lookup runs out of memory.
class FaultyFiles final : public RuleFiles {
 public:
  std::optional<FileFacts> Find(std::string_view) override { throw std::bad_alloc(); }
  core::Result<std::unique_ptr<ChunkReader>> Open(std::string_view, bool) override {
    return core::Failure{"cannot open"};
  }
};

TEST(CheckFileRuleTest, AFaultEndsTheRuleAsAFileThatCannotBeRead) {
  conditions::testing::RuleHarness h;
  FaultyFiles files;
  ConditionContext context{ConditionLimits{}, h.rc, h, h, h.pacer, files};
  h.rc.step_rc_value = 2;
  EXPECT_EQ(EvaluateRuleLine(context, h.settings, Pass::kBeforeStep, "R=8 F=A.LOG ?=RES", 3, false,
                             false),
            "-3 RC=8     Read \"A.LOG\" not succesful\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 8);
  EXPECT_EQ(h.variables, std::vector<std::string>{"RES=8"});
  EXPECT_EQ(h.console, std::vector<std::string>{
                           "***** Unexpected fault in DezaVI line 3: out of memory *****"});
  // A reverse rule does not fire on a file it could not read.
  EXPECT_EQ(
      EvaluateRuleLine(context, h.settings, Pass::kBeforeStep, "R=R9 F=A.LOG", 4, false, false),
      "");
  EXPECT_EQ(h.rc.step_rc_value, 8);
}

}  // namespace
}  // namespace x5::conditions
