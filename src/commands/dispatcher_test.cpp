// The dispatcher: joining lines, contributions by kind and mode, the switch table, and the
// pending edit saved at the right moments.
#include "commands/dispatcher.h"

#include <gtest/gtest.h>

#include <tuple>

#include "commands/testing/commands_test_support.h"

namespace x5::commands {
namespace {

using commands::testing::CommandWorld;

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

std::string Dispatch(commands::testing::CommandWorld& world,
                     std::string_view text,
                     DispatchMode mode) {
  return LineOf(DispatchCommand(world.context, text, mode), mode);
}

TEST(DispatchCommand, JoinsContributions) {
  constexpr DispatchMode kRun = DispatchMode::kExecute;
  constexpr DispatchMode kResolved = DispatchMode::kShowResolved;
  constexpr DispatchMode kWritten = DispatchMode::kShowAsWritten;
  const JoinCase cases[] = {
      {"a\r\n\r\nb", kRun, "a&b"},
      {"", kRun, ""},
      {"a x\r\n/X5J 2000\r\nb y", kRun, "a x&b y"},
      {"a\rb\nc", kRun, "a\rb\nc"},  // only CR LF separates lines
      {"report.txt p", kRun, "C:\\Windows\\notepad.exe report.txt p"},
      {"\"a b.doc\" x", kRun, "\"C:\\Program Files\\Office\\word.exe\" \"a b.doc\" x"},
      {"tool x /X5J 5", kWritten, "tool x"},  // the switch never goes along
      {"%P% -p %PW%", kRun, "C:\\bin\\tool.exe -p s3cret", "C:\\bin\\tool.exe -p *****"},
      // The job log's modes never decipher (it hands over a text it expanded already).
      {"%P% -p %PW%", kResolved, "C:\\bin\\tool.exe -p *****"},
      {"%P% -p %PW%", kWritten, "tool -p *****"},
  };
  for (const JoinCase& c : cases) {
    commands::testing::CommandWorld world;
    world.associations.paths = {{"report.txt", "C:\\Windows\\notepad.exe"},
                                {"tool", "C:\\bin\\tool.exe"},
                                {"a b.doc", "C:\\Program Files\\Office\\word.exe"}};
    world.expander.values = {{"P", "tool"}, {"PW", "PW:s3cret"}};
    SCOPED_TRACE(c.text + " mode " + std::to_string(static_cast<int>(c.mode)));
    const DispatchedCommand dispatched = DispatchCommand(world.context, c.text, c.mode);
    EXPECT_EQ(LineOf(dispatched, c.mode), c.expected);
    EXPECT_EQ(dispatched.shown, c.shown);
  }
}

// Switch letters in any case; in the job log's modes no switch does anything.
TEST(DispatchCommand, SwitchesOnlyInExecuteMode) {
  for (const DispatchMode mode :
       {DispatchMode::kShowAsWritten, DispatchMode::kShowResolved, DispatchMode::kExecute}) {
    commands::testing::CommandWorld world;
    world.files.files["f.txt"] = "Abc";
    const bool run = mode == DispatchMode::kExecute;
    EXPECT_EQ(Dispatch(world, "/x5j B1000\r\n/x5s A=1\r\n/x5r a b f.txt\r\n/x5?", mode), "");
    // Interval and type, variables made, shown resolved, the file (/x5r ignores case), console.
    EXPECT_EQ(std::tuple(world.state.picture_interval, world.state.picture_type,
                         world.variables.added.size(), world.state.show_resolved,
                         world.files.files["f.txt"], world.console.lines.empty()),
              run ? std::tuple(1000, pictures::PictureType::kBmp, 1u, true, "bbc", false)
                  : std::tuple(200, pictures::PictureType::kJpg, 0u, false, "Abc", true));
  }
}

// One edit across consecutive replace lines, saved at the end, by a switch that is no replace
// (but not by a SET line), and after a program line that carries a switch.
TEST(DispatchCommand, EditSavedAtTheRightMoments) {
  const std::string saved = "File f.txt (3 bytes) saved\r\n", missing = "Edit file missing";
  const struct {
    std::string text, line, file, message;
  } cases[] = {
      {"/X5R a b f.txt\r\n/X5L c d\r\nprog x", "C:\\prog.exe x", "b d", saved},
      {"/X5R a b f.txt\r\n/X5X\r\n/X5R b c", "", "b c", missing},
      {"/X5R a b f.txt\r\n/X5S A=1\r\n/X5R b c", "", "c c", saved},
      {"prog x /X5R a b f.txt\r\n/X5R b c", "C:\\prog.exe x", "b c", missing},
  };
  for (const auto& c : cases) {
    commands::testing::CommandWorld world;
    world.files.files["f.txt"] = "a c";
    world.associations.paths = {{"prog", "C:\\prog.exe"}};
    world.state.edit.file_name = "left.txt";  // every call starts without an edit
    world.state.edit.buffer = "over";
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Dispatch(world, c.text, DispatchMode::kExecute), c.line);
    EXPECT_EQ(world.files.files["f.txt"], c.file);
    EXPECT_EQ(world.files.reads["f.txt"], 1);
    EXPECT_EQ(world.files.writes, (std::map<std::string, int>{{"f.txt", 1}}));
    EXPECT_EQ(world.state.edit.message, c.message);
  }
}

TEST(DispatchCommand, AFailedFinalSaveOrAFaultCountsAsAFailedCommand) {
  commands::testing::CommandWorld world;
  world.files.files["f.txt"] = "a";
  world.files.write_failure = WriteOutcome::State::kReplaceFailed;
  EXPECT_EQ(Dispatch(world, "/X5R a b f.txt", DispatchMode::kExecute), "");
  EXPECT_TRUE(world.state.edit.message.ends_with("Error code=-8/5 Error text 5\r\n"))
      << world.state.edit.message;
  EXPECT_EQ(world.rc.step_rc_value, 5);
  EXPECT_EQ(world.console_file.saves, 1);
  EXPECT_EQ(world.files.files["f.txt"], "a");
  // A fault runs nothing, and counts as a failed command when the line is carried out.
  commands::testing::CommandWorld faulty;
  faulty.expander.out_of_memory = true;
  EXPECT_EQ(Dispatch(faulty, "prog.exe", DispatchMode::kShowAsWritten), "");
  EXPECT_EQ(faulty.rc.step_rc_value, 2);
  EXPECT_EQ(Dispatch(faulty, "prog.exe", DispatchMode::kExecute), "");
  EXPECT_EQ(faulty.rc.step_rc_value, 5);
  EXPECT_EQ(faulty.console.lines.back(),
            "***** Unexpected fault in /X5 commands: out of memory *****");
}

TEST(DispatchCommand, PrinterReportAfterTheEditIsSaved) {
  commands::testing::CommandWorld world;
  world.printers.installed = {{"P1", "D1", "LPT1:"}};
  world.printers.opening = {{"P1", {"", ""}}};
  world.files.files["f.txt"] = "a";
  EXPECT_EQ(Dispatch(world, "/X5R a b f.txt\r\n/X5P", DispatchMode::kExecute), "");
  EXPECT_EQ(world.files.files["f.txt"], "b");
  EXPECT_TRUE(world.console.All().ends_with(
      "saved\r\n\n\r\n\nC:\\Jobs\\J1\\S1\\Printers.txt\nPrinting Off: \r\nD1/LPT1: P1\n\r\n\n"))
      << world.console.All();
}

TEST(DispatchCommand, PasswordsInSwitchesReachTheFileButNotTheConsole) {
  commands::testing::CommandWorld world;
  world.expander.values = {{"PW", "PW:s3cret"}};
  world.files.files["f.txt"] = "pw=@";
  EXPECT_EQ(Dispatch(world, "/X5L @ %PW% f.txt\r\n/X5S;P=%PW%;U=me\r\n/X5J %PW%\r\nprog %PW%",
                     DispatchMode::kExecute),
            "prog s3cret");
  EXPECT_EQ(world.files.files["f.txt"], "pw=s3cret");
  // A value that holds a deciphered password stays a password; a password never makes a switch.
  EXPECT_EQ(world.variables.added, (std::vector<std::string>{"P=PW:s3cret", "U=me"}));
  EXPECT_EQ(world.state.picture_interval, 200);
  const std::string console = world.console.All();
  EXPECT_EQ(console.find("s3cret"), std::string::npos) << console;
  EXPECT_NE(console.find("/X5L @ ***** f.txt"), std::string::npos) << console;
  EXPECT_NE(console.find("/X5S SET P=*****"), std::string::npos) << console;
  EXPECT_NE(console.find("Invalid /X5J value: *****"), std::string::npos) << console;
}

// The line is cut where its shown form is cut; a password that would move a cut (a switch, a
// blank or a quote in it) refuses the whole command: nothing runs, nothing of the line is carried
// out, and the command counts as failed.
TEST(DispatchCommand, APasswordNeverMovesACut) {
  const struct {
    std::string password, text, runs;
  } cases[] = {
      {"s3cr/X5Jet", "prog.exe OUT -p %PW% -v", ""},
      {"x/X5S A=tail", "/X5S A=%PW%", ""},
      {"q/X5R a", "/X5R %PW% z f.txt", ""},
      {"a b", "%PW%\\x.exe -v", ""},
      {"a\" b", "\"C:\\%PW%\\x.exe\" -v", ""},
      // Where no cut moves, the password stands where the mask stands.
      {"s3cr et", "prog.exe -p %PW% -v", "C:\\prog.exe -p s3cr et -v"},
      {"s3\"/x5", "x.exe\r\nprog %PW% /X5S B=x", "x.exe&C:\\prog.exe s3\"/x5"},
  };
  for (const auto& c : cases) {
    commands::testing::CommandWorld world;
    world.expander.values = {{"PW", "PW:" + c.password}};
    world.associations.paths = {{"prog", "C:\\prog.exe"}, {"prog.exe", "C:\\prog.exe"}};
    world.files.files["f.txt"] = "a";
    SCOPED_TRACE(c.text);
    const DispatchedCommand dispatched =
        DispatchCommand(world.context, c.text, DispatchMode::kExecute);
    EXPECT_EQ(dispatched.command_line.View(), c.runs);
    EXPECT_EQ(world.files.files["f.txt"], "a");
    const bool refused = c.runs.empty();
    if (refused)
      EXPECT_TRUE(world.variables.added.empty());
    EXPECT_EQ(world.rc.step_rc_value, refused ? 5 : 2);
    EXPECT_EQ(world.console.All().find(c.password), std::string::npos) << world.console.All();
    EXPECT_EQ(world.console.All().find("***** Command not run: a password would change") !=
                  std::string::npos,
              refused);
    // The password never reached a lookup.
    for (const std::string& looked_up : world.associations.lookups)
      EXPECT_EQ(looked_up.find(c.password.substr(0, 2)), std::string::npos) << looked_up;
  }
}

}  // namespace
}  // namespace x5::commands
