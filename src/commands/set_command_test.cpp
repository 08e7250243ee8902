// The SET switch: cutting assignments by delimiter, console messages, variables made, and the
// RC handling of invalid or empty switches.
#include "commands/set_command.h"

#include <gtest/gtest.h>

#include "commands/testing/commands_test_support.h"

namespace x5::commands {
namespace {

using commands::testing::CommandWorld;

struct SetCase {
  std::string text;
  bool set;             // false: an invalid assignment stopped the switch, or there was none
  std::string made;     // NAME=value, joined by "|"; "PW:" marks a value stored as a password
  std::string console;  // the lines, joined by "|"
  std::string shown = text;
};

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& part : parts)
    all += (all.empty() ? "" : "|") + part;
  return all;
}

void Check(const SetCase& c) {
  commands::testing::CommandWorld world;
  SCOPED_TRACE(c.text);
  EXPECT_EQ(SetCommand(world.context, c.text, c.shown).ok(), c.set);
  EXPECT_EQ(Joined(world.variables.added), c.made);
  EXPECT_EQ(Joined(world.console.lines), c.console);
  EXPECT_EQ(world.rc.step_rc_value, c.set ? 2 : 5);
  EXPECT_EQ(world.console_file.saves, c.set ? 0 : 1);
}

const std::string kInvalid = "\r\n/X5S - Invalid Set parameter";
const std::string kDelimiter = "/X5S Delimiter Char=;|";

TEST(SetCommand, Table) {
  const SetCase cases[] = {
      {"/X5S;A=1;B=2", true, "A=1|B=2", kDelimiter + "/X5S SET A=1|/X5S SET B=2"},
      // A blank is no delimiter: one assignment, its name trimmed, its value as written.
      {"/X5S  NAME = v;a l ", true, "NAME= v;a l ", "/X5S SET NAME= v;a l "},
      {"/X5S A=", true, "A=", "/X5S SET A="},
      {"/X5S ABC", false, "", kInvalid + "ABC\r\n"},
      // An "=" of a later assignment does not make an earlier one valid.
      {"/X5S;A;B=1", false, "", kDelimiter + kInvalid + "A;B=1\r\n"},
      {"/X5S;A=1;;B=2", false, "A=1", kDelimiter + "/X5S SET A=1|" + kInvalid + ";B=2\r\n"},
      {"/X5S =1", false, "", kInvalid + "=1\r\n"},
      // A name the environment would read otherwise is no name.
      {"/X5S;A=1;B\x01"
       "C=2",
       false, "A=1",
       kDelimiter + "/X5S SET A=1|" + kInvalid +
           "B\x01"
           "C=2\r\n"},
      {"/X5S", false, "", ""},
      {"/X5S;A", false, "", "/X5S Delimiter Char=;"},
  };
  for (const SetCase& c : cases)
    Check(c);
}

TEST(SetCommand, AtMostAThousandAssignments) {
  std::string text = "/X5S;";
  for (int i = 0; i < 1005; ++i)
    text += "V" + std::to_string(i) + "=" + std::to_string(i) + ";";
  const SetSwitch parsed = ParseSetSwitch(text);
  EXPECT_EQ(parsed.assignments.size(), kMaxSetAssignments);
  EXPECT_FALSE(parsed.invalid);
}

// The text as expanded for running, and as shown with its passwords masked.
TEST(SetCommand, DecipheredValuesStayPasswordsAndAreNotShown) {
  const SetCase cases[] = {
      {"/X5S C=-p s3cret", true, "C=PW:-p s3cret", "/X5S SET C=-p *****", "/X5S C=-p *****"},
      // A password that holds the delimiter, or stands for it, cuts the text otherwise.
      {"/X5S;PW=a;b=c", false, "", kDelimiter + kInvalid + "PW=*****\r\n", "/X5S;PW=*****"},
      {"/X5Ss3cret=1", false, "", "/X5S Delimiter Char=*|" + kInvalid + "****=1\r\n",
       "/X5S*****=1"},
      // No variable (nor global parameter file) is named after a password.
      {"/X5S;A=1;s3cret$=2", false, "A=1", kDelimiter + "/X5S SET A=1|" + kInvalid + "*****$=2\r\n",
       "/X5S;A=1;*****$=2"},
      {"/X5S P=" + std::string(128, 'k'), false, "",
       "/X5S SET P=*****|\r\n/X5S - Password value cannot be enciphered (at most 127 characters): "
       "P\r\n",
       "/X5S P=*****"},
  };
  for (const SetCase& c : cases)
    Check(c);
}

}  // namespace
}  // namespace x5::commands
