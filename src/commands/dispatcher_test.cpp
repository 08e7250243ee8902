// The dispatcher: joining lines, contributions by kind and mode, the switch table, and the
// pending edit saved at the right moments.
#include "commands/dispatcher.h"

#include <gtest/gtest.h>

#include "commands/commands_test_support.h"

namespace x5 {
namespace {

using command_testing::CommandWorld;

struct JoinCase {
  std::string text;
  DispatchMode mode;
  std::string expected;
  std::string shown = expected;  // the line as messages show it
};

// The line a mode gives: to run in execute mode, to show otherwise.
std::string LineOf(const DispatchedCommand& dispatched, DispatchMode mode) {
  return mode == DispatchMode::kExecute ? std::string(dispatched.command_line.View())
                                        : dispatched.shown;
}

std::string Dispatch(CommandWorld& world, std::string_view text, DispatchMode mode) {
  return LineOf(DispatchCommand(world.context, text, mode), mode);
}

TEST(DispatchCommand, JoinsContributions) {
  const JoinCase cases[] = {
      {"a\r\nb", DispatchMode::kExecute, "a&b"},
      {"a\r\n\r\nb", DispatchMode::kExecute, "a&b"},
      {"a\r\nb\r\n", DispatchMode::kExecute, "a&b"},
      {"\r\n\r\n", DispatchMode::kExecute, ""},
      {"", DispatchMode::kExecute, ""},
      {"a x\r\n/X5J 2000\r\nb y", DispatchMode::kExecute, "a x&b y"},
      {"a\rb\nc", DispatchMode::kExecute, "a\rb\nc"},  // only CR LF separates lines
      {"report.txt p", DispatchMode::kExecute, "C:\\Windows\\notepad.exe report.txt p"},
      {"report.txt p", DispatchMode::kShowResolved, "C:\\Windows\\notepad.exe report.txt p"},
      {"report.txt p", DispatchMode::kShowAsWritten, "report.txt p"},
      {"tool x", DispatchMode::kExecute, "C:\\bin\\tool.exe x"},
      {"tool x", DispatchMode::kShowAsWritten, "tool x"},
      {"\"a b.doc\" x", DispatchMode::kExecute,
       "\"C:\\Program Files\\Office\\word.exe\" \"a b.doc\" x"},
      {"tool x /X5J 5", DispatchMode::kShowAsWritten, "tool x"},  // the switch never goes along
      {"%P% -p %PW%", DispatchMode::kExecute, "C:\\bin\\tool.exe -p s3cret",
       "C:\\bin\\tool.exe -p *****"},
      // The job log's modes never decipher (it hands over a text it expanded already).
      {"%P% -p %PW%", DispatchMode::kShowResolved, "C:\\bin\\tool.exe -p *****"},
      {"%P% -p %PW%", DispatchMode::kShowAsWritten, "tool -p *****"},
  };
  for (const JoinCase& c : cases) {
    CommandWorld world;
    world.associations.paths = {{"report.txt", "C:\\Windows\\notepad.exe"},
                                {"tool", "C:\\bin\\tool.exe"},
                                {"a b.doc", "C:\\Program Files\\Office\\word.exe"}};
    world.expander.values = {{"P", "tool"}, {"PW", "PW:s3cret"}};
    const DispatchedCommand dispatched = DispatchCommand(world.context, c.text, c.mode);
    EXPECT_EQ(LineOf(dispatched, c.mode), c.expected)
        << c.text << " mode " << static_cast<int>(c.mode);
    EXPECT_EQ(dispatched.shown, c.shown) << c.text << " mode " << static_cast<int>(c.mode);
  }
}

TEST(DispatchCommand, SwitchesOnlyInExecuteMode) {
  for (const DispatchMode mode : {DispatchMode::kShowAsWritten, DispatchMode::kShowResolved}) {
    CommandWorld world;
    world.files.files["f.txt"] = "abc";
    EXPECT_EQ(Dispatch(world, "/X5J 2000\r\n/x5s A=1\r\n/X5R a b f.txt\r\n/X5?\r\n/X5P", mode), "");
    EXPECT_EQ(world.picture_interval, 200);
    EXPECT_TRUE(world.variables.added.empty());
    EXPECT_FALSE(world.show_resolved);
    EXPECT_TRUE(world.files.writes.empty());
    EXPECT_TRUE(world.console.lines.empty());
  }
}

TEST(DispatchCommand, SwitchLettersInAnyCase) {
  CommandWorld world;
  EXPECT_EQ(Dispatch(world, "/x5j B1000\r\n/x5?\r\n/x5s;A=1", DispatchMode::kExecute), "");
  EXPECT_EQ(world.picture_interval, 1000);
  EXPECT_EQ(world.picture_type, "BMP");
  EXPECT_TRUE(world.show_resolved);
  ASSERT_EQ(world.variables.added.size(), 1u);
  EXPECT_EQ(world.variables.added[0].first, "A");
}

// One edit across consecutive replace lines, saved at the end, by a switch that is no replace
// (but not by a SET line), and after a program line that carries a switch.
TEST(DispatchCommand, EditSavedAtTheRightMoments) {
  const struct {
    std::string text, line, file, message;
  } cases[] = {
      {"/X5R a b f.txt\r\n/X5L c d\r\nprog x", "C:\\prog.exe x", "b d",
       "File f.txt (3 bytes) saved\r\n"},
      {"/X5R a b f.txt", "", "b c", "File f.txt (3 bytes) saved\r\n"},
      {"/X5R a b f.txt\r\n/X5X\r\n/X5R b c", "", "b c", "Edit file missing"},
      {"/X5R a b f.txt\r\n/X5S A=1\r\n/X5R b c", "", "c c", "File f.txt (3 bytes) saved\r\n"},
      {"prog x /X5R a b f.txt\r\n/X5R b c", "C:\\prog.exe x", "b c", "Edit file missing"},
  };
  for (const auto& c : cases) {
    CommandWorld world;
    world.files.files["f.txt"] = "a c";
    world.associations.paths = {{"prog", "C:\\prog.exe"}};
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Dispatch(world, c.text, DispatchMode::kExecute), c.line);
    EXPECT_EQ(world.files.files["f.txt"], c.file);
    EXPECT_EQ(world.files.reads["f.txt"], 1);
    EXPECT_EQ(world.files.writes["f.txt"], 1);
    EXPECT_EQ(world.edit.message, c.message);
  }
  CommandWorld world;
  world.files.files["f.txt"] = "a c";
  (void)Dispatch(world, "/X5R a b f.txt\r\n/X5L c d", DispatchMode::kExecute);
  EXPECT_EQ(world.last_result, 3);
  EXPECT_EQ(world.console.lines.back(), "File f.txt (3 bytes) saved\r\n");
  // Every call starts without an edit.
  world.edit.file_name = "left.txt";
  world.edit.buffer = "over";
  EXPECT_EQ(Dispatch(world, "x", DispatchMode::kExecute), "x");
  EXPECT_EQ(world.files.writes.size(), 1u);
}

TEST(DispatchCommand, AFailedFinalSaveCountsAsAFailedCommand) {
  CommandWorld world;
  world.files.files["f.txt"] = "a";
  world.files.write_failure = WriteOutcome::State::kReplaceFailed;
  EXPECT_EQ(Dispatch(world, "/X5R a b f.txt", DispatchMode::kExecute), "");
  EXPECT_EQ(world.last_result, -8);
  EXPECT_EQ(world.rc.step_rc_value, 5);
  EXPECT_EQ(world.console_file.saves, 1);
  EXPECT_EQ(world.files.files["f.txt"], "a");
}

TEST(DispatchCommand, AFaultRunsNothingAndCountsAsAFailedCommandWhenCarriedOut) {
  CommandWorld world;
  world.expander.out_of_memory = true;
  EXPECT_EQ(Dispatch(world, "prog.exe", DispatchMode::kShowAsWritten), "");
  EXPECT_EQ(world.rc.step_rc_value, 2);
  EXPECT_EQ(Dispatch(world, "prog.exe", DispatchMode::kExecute), "");
  EXPECT_EQ(world.rc.step_rc_value, 5);
  EXPECT_EQ(world.console.lines.back(),
            "***** Unexpected fault in /X5 commands: out of memory *****");
}

TEST(DispatchCommand, PrinterReportLines) {
  CommandWorld world;
  world.printers.printers = {{{"P1", "D1", "LPT1:"}, true, "", ""}};
  world.files.files["f.txt"] = "a";
  EXPECT_EQ(Dispatch(world, "/X5R a b f.txt\r\n/X5P\r\n/X5P", DispatchMode::kExecute), "");
  // The edit is saved before the report.
  EXPECT_EQ(world.files.files["f.txt"], "b");
  EXPECT_EQ(world.files.files["C:\\Jobs\\J1\\S1\\Printers.txt"],
            "Printing Off: \r\nD1/LPT1: P1\r\n");
  EXPECT_EQ(world.files.writes["C:\\Jobs\\J1\\S1\\Printers.txt"], 2);
  const std::vector<std::string> expected = {"\r\n", "C:\\Jobs\\J1\\S1\\Printers.txt",
                                             "Printing Off: \r\nD1/LPT1: P1", "\r\n"};
  ASSERT_GE(world.console.lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(world.console.lines.end() - 4, world.console.lines.end()),
            expected);
}

TEST(DispatchCommand, PasswordsInSwitchesReachTheFileButNotTheConsole) {
  CommandWorld world;
  world.expander.values = {{"PW", "PW:s3cret"}, {"TAIL", "PW:x /X5S A=1"}};
  world.files.files["f.txt"] = "pw=@";
  EXPECT_EQ(Dispatch(world, "/X5L @ %PW% f.txt\r\n/X5S;P=%PW%;U=me\r\n/X5J %PW%\r\nprog %TAIL%",
                     DispatchMode::kExecute),
            "prog x");
  EXPECT_EQ(world.files.files["f.txt"], "pw=s3cret");
  // A value that holds a deciphered password stays a password; a password never makes a switch.
  EXPECT_EQ(world.variables.added,
            (std::vector<std::pair<std::string, std::string>>{{"P", "PW:s3cret"}, {"U", "me"}}));
  EXPECT_EQ(world.picture_interval, 200);
  const std::string console = world.console.All();
  EXPECT_EQ(console.find("s3cret"), std::string::npos) << console;
  EXPECT_NE(console.find("/X5L @ ***** f.txt"), std::string::npos) << console;
  EXPECT_NE(console.find("/X5S SET P=*****"), std::string::npos) << console;
  EXPECT_NE(console.find("Invalid /X5J value: *****"), std::string::npos) << console;
}

}  // namespace
}  // namespace x5
