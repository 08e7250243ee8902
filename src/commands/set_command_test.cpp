// The SET switch: cutting assignments by delimiter, console messages, variables made, and the
// RC handling of invalid or empty switches.
#include "commands/set_command.h"

#include <gtest/gtest.h>

#include "commands/commands_test_support.h"

namespace x5 {
namespace {

using command_testing::CommandWorld;
using Pairs = std::vector<std::pair<std::string, std::string>>;

struct SetCase {
  std::string text;
  int32_t result;
  Pairs made;
  std::vector<std::string> console;
};

TEST(SetCommand, Table) {
  const SetCase cases[] = {
      {"/X5S A=1", 1, {{"A", "1"}}, {"/X5S SET A=1"}},
      {"/X5S A=1;B=2", 1, {{"A", "1;B=2"}}, {"/X5S SET A=1;B=2"}},
      {"/X5S;A=1;B=2",
       1,
       {{"A", "1"}, {"B", "2"}},
       {"/X5S Delimiter Char=;", "/X5S SET A=1", "/X5S SET B=2"}},
      {"/X5S;A=x y ;B= 2",
       1,
       {{"A", "x y "}, {"B", " 2"}},
       {"/X5S Delimiter Char=;", "/X5S SET A=x y ", "/X5S SET B= 2"}},
      {"/X5S  NAME = v;a l ", 1, {{"NAME", " v;a l "}}, {"/X5S SET NAME= v;a l "}},
      {"/X5S A=", 1, {{"A", ""}}, {"/X5S SET A="}},
      {"/X5S;A=1;B=2;",
       0,
       {{"A", "1"}, {"B", "2"}},
       {"/X5S Delimiter Char=;", "/X5S SET A=1", "/X5S SET B=2",
        "\r\n/X5S - Invalid Set parameter\r\n"}},
      {"/X5S ABC", 0, {}, {"\r\n/X5S - Invalid Set parameterABC\r\n"}},
      // An "=" of a later assignment does not make an earlier one valid.
      {"/X5S;A;B=1", 0, {}, {"/X5S Delimiter Char=;", "\r\n/X5S - Invalid Set parameterA;B=1\r\n"}},
      {"/X5S;A=1;;B=2",
       0,
       {{"A", "1"}},
       {"/X5S Delimiter Char=;", "/X5S SET A=1", "\r\n/X5S - Invalid Set parameter;B=2\r\n"}},
      {"/X5S =1", 0, {}, {"\r\n/X5S - Invalid Set parameter=1\r\n"}},
      {"/X5S", -1, {}, {}},
      {"/X5S A", -1, {}, {}},
      {"/X5S;", -1, {}, {"/X5S Delimiter Char=;"}},
      {"/X5S;A", -1, {}, {"/X5S Delimiter Char=;"}},
  };
  for (const SetCase& c : cases) {
    CommandWorld world;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SetCommand(world.context, c.text, c.text), c.result);
    EXPECT_EQ(world.variables.added, c.made);
    EXPECT_EQ(world.console.lines, c.console);
    EXPECT_EQ(world.rc.step_rc_value, c.result == 1 ? 2 : 5);
    EXPECT_EQ(world.console_file.saves, c.result == 1 ? 0 : 1);
  }
}

TEST(SetCommand, RcRaiseFollowsTheStepLimits) {
  struct Case {
    int32_t step_rc;
    int32_t step_maximum;
    int32_t expected;
  };
  for (const Case& c :
       {Case{2, 4, 5}, Case{0, 4, 0}, Case{1, 98, 99}, Case{2, 99, 2}, Case{4, 4, 4}}) {
    CommandWorld world;
    world.rc.step_rc_value = c.step_rc;
    world.rc.step_maximum_rc = c.step_maximum;
    EXPECT_EQ(SetCommand(world.context, "/X5S ABC", "/X5S ABC"), 0);
    EXPECT_EQ(world.rc.step_rc_value, c.expected);
  }
}

TEST(SetCommand, AtMostAThousandAssignments) {
  std::string text = "/X5S;";
  for (int i = 0; i < 1005; ++i) {
    text += "V" + std::to_string(i) + "=" + std::to_string(i) + ";";
  }
  const SetSwitch parsed = ParseSetSwitch(text);
  EXPECT_EQ(parsed.assignments.size(), kMaxSetAssignments);
  EXPECT_FALSE(parsed.invalid);
  EXPECT_EQ(parsed.assignments.back().name, "V999");
}

TEST(SetCommand, LastResultIsTheVariableStoresAnswer) {
  CommandWorld world;
  world.last_result = -5;
  EXPECT_EQ(SetCommand(world.context, "/X5S X$=1", "/X5S X$=1"), 1);
  EXPECT_EQ(world.last_result, 1);
}

TEST(SetCommand, DecipheredValuesStayPasswordsAndAreNotShown) {
  struct PasswordCase {
    std::string text;  // as expanded for running
    std::string shown;
    int32_t result;
    Pairs made;  // "PW:" marks a value stored as a password
    std::vector<std::string> console;
  };
  const PasswordCase cases[] = {
      {"/X5S;PW=s3cret;U=me",
       "/X5S;PW=*****;U=me",
       1,
       {{"PW", "PW:s3cret"}, {"U", "me"}},
       {"/X5S Delimiter Char=;", "/X5S SET PW=*****", "/X5S SET U=me"}},
      {"/X5S C=-p s3cret", "/X5S C=-p *****", 1, {{"C", "PW:-p s3cret"}}, {"/X5S SET C=-p *****"}},
      // A password that holds the delimiter, or stands for it, cuts the text otherwise.
      {"/X5S;PW=a;b=c",
       "/X5S;PW=*****",
       0,
       {},
       {"/X5S Delimiter Char=;", "\r\n/X5S - Invalid Set parameterPW=*****\r\n"}},
      {"/X5Ss3cret=1",
       "/X5S*****=1",
       0,
       {},
       {"/X5S Delimiter Char=*", "\r\n/X5S - Invalid Set parameter****=1\r\n"}},
      // No variable (nor global parameter file) is named after a password.
      {"/X5S;A=1;s3cret$=2",
       "/X5S;A=1;*****$=2",
       0,
       {{"A", "1"}},
       {"/X5S Delimiter Char=;", "/X5S SET A=1", "\r\n/X5S - Invalid Set parameter*****$=2\r\n"}},
      {"/X5S P=" + std::string(128, 'k'),
       "/X5S P=*****",
       0,
       {},
       {"/X5S SET P=*****",
        "\r\n/X5S - Password value cannot be enciphered (at most 127 characters): P\r\n"}},
  };
  for (const PasswordCase& c : cases) {
    CommandWorld world;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SetCommand(world.context, c.text, c.shown), c.result);
    EXPECT_EQ(world.variables.added, c.made);
    EXPECT_EQ(world.console.lines, c.console);
    EXPECT_EQ(world.rc.step_rc_value, c.result == 1 ? 2 : 5);
  }
}

}  // namespace
}  // namespace x5
