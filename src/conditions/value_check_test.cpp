// Tests of the value comparisons after a found text: numbers, texts, folding, offsets, missing
// fields and the combined messages.
#include "conditions/value_check.h"

#include <gtest/gtest.h>

#include "conditions/testing/rule_harness.h"

namespace x5::conditions {
namespace {

struct ValueCase {
  const char* file;
  const char* rule;
  const char* output;  // "" when the values pass
  NumberFormat format = {};
};

TEST(CheckValuesTest, Table) {
  const ValueCase cases[] = {
      {"ERRORS:  0\n", "S=ERRORS: V=(3 = 0)", ""},
      {"ERRORS: 12\n", "S=ERRORS: V=(3 = 0)", "12=0 = False"},
      {"ERRORS: xx\n", "S=ERRORS: V=(3 = 0)", "\" XX\"=\"0\" = False"},
      {"state done", "S=state V=(1, 4 = \"DONE\")", ""},
      {"state done", "S=state C=N V=(1, 4 = DONE)", "\"done\"=\"DONE\" = False"},
      {"state 1234", "S=state V=(1, 4 = \"01234\")", "\"1234\"=\"01234\" = False"},  // as text
      {"n:12", "S=n: V=(0, 2 > 5 < 10)", "12<10 = False"},
      {"n:02", "S=n: V=(0, 2 > 5 < 1)", "2>5 = False + 2<1 = False"},
      {"n:05", "S=n: V=(0, 2 >= 5 <= 5)", ""},  // both bounds hold at equality
      {"x=2.5", "S=\"x=\" V=(3 = 2)", ""},      // a field with decimals, rounded
      {"x=1A", "S=\"x=\" V=(2 = 1)", "\"1A\"=\"1\" = False"},
      {"x=1", "S=\"x=\" V=(5 = 1)", "Value not found"},
      {"x=1", "S=\"x=\" V=(0 = 1)", ""},
      {"x=1", "S=\"x=\" V=(-9, 1 = 1)", "Value not found"},  // before the first byte
      {"x=abc", "S=\"x=\" V=(3 >= \"\")", ""},               // nothing to compare with: passes
      {"x=abc", "S=\"x=\" V=(3 = \"\" <> \"\")", "Empty values"},
      {"x=abc", "S=\"x=\" V=(3 X , = \"ABC\")", ""},
      {"q=a\"b", "S=\"q=\" V=(3 = x)", "\"A\"\"B\"=\"x\" = False"},
      {"v=b", "S=\"v=\" V=(1 > a)", "\"B\">\"a\" = False"},  // by code: B (66) < a (97)
      // File bytes are shown, not obeyed: no line end or escape reaches the report.
      {"x=a\r\n\x1B", "S=\"x=\" V=(4 = \"z\")", "\"A^M^J^[\"=\"z\" = False"},
      // The fields follow the number format.
      {"x=1,5 y=1.5", "S=\"x=\" V=(3 = 2)", "", NumberFormat{',', '.'}},
      {"x=1,5 y=1.5", "S=\"y=\" V=(3 = 2)", "15=2 = False", NumberFormat{',', '.'}},
  };
  for (const ValueCase& c : cases) {
    conditions::testing::RuleHarness h;
    h.files.Add("V.LOG", c.file);
    h.context.number_format = c.format;
    const std::string rule = std::string("R=5 F=V.LOG N=0 ") + c.rule;
    const std::string expected =
        *c.output ? std::string("-1 RC=5     ") + c.output + "\r\n" : std::string();
    EXPECT_EQ(h.Line1(rule, true), expected) << c.file << " / " << c.rule;
  }
}

}  // namespace
}  // namespace x5::conditions
