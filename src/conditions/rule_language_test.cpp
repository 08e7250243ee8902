// Tests of the rule language: parameters, every rejection message, the settings a line
// leaves, sections, passes and line numbers. (The value forms are proved by the value checks.)
#include "conditions/rule_language.h"

#include <gtest/gtest.h>

#include <sstream>

#include "conditions/testing/rule_harness.h"
#include "core/ascii_text.h"
#include "protocol/report_texts.h"

namespace x5::conditions {
namespace {

// Each parameter where it begins, as written, or why none could be read there; "*" marks a value
// inside a quotation mark never closed.
TEST(ReadRuleParametersTest, Table) {
  struct Case {
    const char* line;
    const char* read;
  };
  const Case cases[] = {
      {"S=\"A B\" R=1", "1:S=\"A B\" 9:R=1"},
      {"S=A\"\"B  R=1", "1:S=A\"\"B 9:R=1"},
      {"F=(A \")\" B) R=1", "1:F=(A \")\" B) 13:R=1"},
      {"R=1 S=\"ERR F=A.LOG", "1:R=1 5:S=\"ERR F=A.LOG*"},
      {"R=", "1:(too short)"},
      {"R=8 SS=1", "1:R=8 5:(no =)"},
      {"S=ab\"", "1:(ends in a quote)"},
      {"V=(5 = 0", "1:(open parenthesis)"},
      {"S= X", "1:(no value)"},
      {"R=8 F=", "1:R=8 5:"},
  };
  for (const Case& c : cases) {
    std::string read;
    for (const RuleParameter& p : ReadRuleParameters(c.line)) {
      const char* fault = p.fault == ParameterFault::kTooShort          ? "(too short)"
                          : p.fault == ParameterFault::kNoEquals        ? "(no =)"
                          : p.fault == ParameterFault::kOpenParenthesis ? "(open parenthesis)"
                          : p.fault == ParameterFault::kEndsInQuote     ? "(ends in a quote)"
                          : p.fault == ParameterFault::kNoValue         ? "(no value)"
                                                                        : "";
      read += (read.empty() ? "" : " ") + std::to_string(p.column) + ":" + p.text + fault +
              (p.open_quote ? "*" : "");
    }
    EXPECT_EQ(read, c.read) << c.line;
  }
  // The letters tools name as the parameters are those the parser takes.
  for (int letter = 0x21; letter < 0x7F; ++letter) {
    RuleSettings s;
    const std::string line = std::string(1, static_cast<char>(letter)) + "=1";
    const core::Result<ParsedRuleLine> parsed = ParseRuleLine(s, line, 1, AsciiCaseMap());
    ASSERT_TRUE(parsed);
    const bool known =
        kParameterLetters.find(core::UpperAscii(static_cast<char>(letter))) != std::string::npos;
    EXPECT_EQ(parsed->rejection.starts_with("1" + std::string(protocol::kInvalidCommand)), !known)
        << line << ": " << parsed->rejection;
  }
}

TEST(ParseRuleLineTest, RejectionMessages) {
  struct Case {
    const char* line;
    const char* output;
  };
  // One line per message; the first fault ends the line.
  const Case cases[] = {
      {"R=100", "7 Invalid R=100\r\n"},
      {"R=R-1", "7 Invalid R=-1\r\n"},
      {"C=Y", "7 Invalid Caps C=Y\r\n"},
      {"N=-1", "7 Invalid Number N=-1\r\n"},
      {"P=x", "7 Invalid Position P=x\r\n"},
      {"Q=x", "7 Invalid Quantity Q=x\r\n"},
      {"?=A B", "7 Invalid Command B\r\n"},
      {"?=(A B)", "7 Invalid Parameter Name=(A B)\r\n"},
      {"R=1 X=2 R=100", "7 Invalid Command X=2\r\n"},
      {"F=(A B", "7 Invalid Command F\r\n"},
      {"S=42ERR", "7 Invalid S= Syntax\r\n"},
      {"S=(1,2,3,4,5)", "7 Invalid S=Too many parameter's\r\n"},
      {"F=(A.LOG > 5-5)", "7 Invalid F=Invalid Number\r\n"},
      {"V=(5 => 3)", "7 Invalid V=Invalid Operand\r\n"},
      {"V=(5 =)", "7 Invalid V=\r\n"},
      {"V=(A = 1)", "7 Invalid V= Offset or Length\r\n"},
      {"V=(5 = 1 < ,)", "7 Invalid V= Operand or Value\r\n"},
      {"V=(A, 2 = 1)", "7 Invalid V= Syntax\r\n"},
      {"F=(A.LOG = AR)", "7 Invalid Length (A.LOG = AR)\r\n"},
      {"F=(X, A.TXT)", "7 Invalid F= Syntax\r\n"},
      {"F=(A.LOG >= 0 = AX)", "7 Invalid Attribute (A.LOG >= 0 = AX)\r\n"},
      {"F=(A.LOG >= 0 < A)", "7 Invalid Operand (A.LOG >= 0 < A)\r\n"},
      {"F=(A.LOG >=)", "7 Invalid Syntax L=(A.LOG >=)\r\n"},
  };
  for (const Case& c : cases) {
    RuleSettings s;
    const core::Result<ParsedRuleLine> parsed = ParseRuleLine(s, c.line, 7, AsciiCaseMap());
    ASSERT_TRUE(parsed) << c.line;
    EXPECT_EQ(parsed->end, LineParse::kRejected) << c.line;
    EXPECT_EQ(parsed->rejection, c.output) << c.line;
  }
}

// The settings a line leaves, one text: reverse and RC, open mode, file, size and attribute
// checks, search column and text, folding, count, position, quantity, variable.
std::string Settings(const RuleSettings& s) {
  std::ostringstream o;
  o << (s.reverse ? "R" : "") << s.rc_value << ' ' << s.open_mode << ' ' << s.file_name << ' '
    << s.size_operator << s.size << ' ' << s.attribute_operator << '[' << s.attribute_pattern
    << "] " << s.search_column << '[' << s.search_text << "] " << (s.case_folding ? "C=Y" : "C=N")
    << " N=" << s.occurrence_count << " P=" << s.start_position << " Q=" << s.quantity
    << " ?=" << s.variable_name;
  return o.str();
}

TEST(ParseRuleLineTest, AcceptedSettingsAndWhatTheNextLineResets) {
  const struct {
    const char* line;
    LineParse parse;
    const char* settings;
  } lines[] = {
      {"r=R5 f=(W, A.TX >= 100 = AR) s=(3, \"A b\") c=n ?=RES n=2 p=10 q=50", LineParse::kAccepted,
       "R5 W A.TX >=100 =[AR  ] 3[A b] C=N N=2 P=10 Q=50 ?=RES"},
      {"S=error", LineParse::kAccepted, "R0 R A.TX >=0 <>[    ] 3[ERROR] C=Y N=2 P=10 Q=50 ?="},
      // A line ending in "X=" ends without evaluation; blanks after the last parameter are fine.
      {"R=8 F=", LineParse::kEnded, nullptr},
      {"S=\"ERROR\"   ", LineParse::kAccepted, nullptr},
      {"S=(A B)", LineParse::kAccepted, "0 R A.TX >=0 <>[    ] 3[AB] C=Y N=2 P=10 Q=50 ?="},
      // A comma form whose first token is not a number keeps the search text.
      {"S=(X, Y)", LineParse::kAccepted, "0 R A.TX >=0 <>[    ] 3[AB] C=Y N=2 P=10 Q=50 ?="},
  };
  RuleSettings s;
  for (const auto& l : lines) {
    const core::Result<ParsedRuleLine> parsed = ParseRuleLine(s, l.line, 1, AsciiCaseMap());
    ASSERT_TRUE(parsed) << l.line;
    ASSERT_EQ(parsed->end, l.parse) << l.line << parsed->rejection;
    if (l.settings != nullptr)
      EXPECT_EQ(Settings(s), l.settings) << l.line;
  }
}

TEST(EvaluateConditionsTest, SectionsPassesAndLineNumbers) {
  conditions::testing::RuleHarness h;
  h.files.Add("X.LOG", "nothing here");
  // Lines are numbered from 1 over every CR LF line; markers switch the sections.
  const std::string text = "->\r\nR=8 F=(X.LOG = 1)\r\n\r\n+<\r\nR=9 F=(X.LOG = 2)";
  EXPECT_EQ(h.Run(Pass::kBeforeStep, text), "-2 RC=8     File Size= 12 requested: =1\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 8);
  EXPECT_EQ(h.Run(Pass::kAfterStep, text), "+5 RC=9     File Size= 12 requested: =2\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 9);

  // Markers only and blank lines: nothing.
  EXPECT_EQ(h.Run(Pass::kBeforeStep, "->  \r\n\r\n-<\r\n+>\r\n   "), "");
  // The part of a line before a marker is dropped: R=8 does not apply.
  EXPECT_EQ(h.Run(Pass::kBeforeStep, "R=8 ->F=(X.LOG = 0)"),
            "-1 RC=0     File Size= 12 requested: =0\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 0);
  // Rejections carry no prefix; the next line is evaluated.
  EXPECT_EQ(h.Run(Pass::kBeforeStep, "R=100\r\nR=3 F=(X.LOG < 1)"),
            "1 Invalid R=100\r\n-2 RC=3     File Size= 12 requested: <1\r\n");
}

TEST(EvaluateConditionsTest, KillEndsThePass) {
  conditions::testing::RuleHarness h;
  h.files.Add("BIG.LOG", std::string(100000, 'x'));
  h.pacer.stop_at = 0;
  h.rc.step_rc_value = 5;
  const std::string out =
      h.Run(Pass::kBeforeStep, "R=8 F=BIG.LOG S=NEEDLE ?=RES\r\nR=9 F=(BIG.LOG = 1)");
  EXPECT_EQ(out, "-1 RC=8     ***** Task DezaVI KILLED on user request *****\r\n");
  EXPECT_EQ(h.rc.step_rc_value, 0);
  EXPECT_EQ(h.variables, (std::vector<std::string>{"RES=0"}));
  EXPECT_EQ(h.pacer.chunks.size(), 1u);  // the search stopped at the chunk it was asked about
}

}  // namespace
}  // namespace x5::conditions
