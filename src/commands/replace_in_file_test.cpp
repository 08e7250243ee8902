// The replace switches: parameters, results and messages, the pending edit across switches, the
// size limits, safe saving, and the command's console output and RC handling.
#include "commands/replace_in_file.h"

#include <gtest/gtest.h>

#include "commands/testing/commands_test_support.h"
#include "commands/dispatcher.h"

namespace x5::commands {
namespace {

using commands::testing::CommandWorld;

int32_t Edit(commands::testing::CommandWorld& w,
             std::string_view parameters,
             size_t limit = kMaxEditBufferBytes,
             EditRequest request = EditRequest::kReplaceExact) {
  return EditCode(EditFile(w.state.edit, request, parameters, w.files, w.context.case_fold, limit));
}

std::string Opened(const std::string& file, int in, int out) {
  return "\r\nFile " + file + " opened (" + std::to_string(in) + " bytes)\r\nReplace succesful (" +
         std::to_string(out) + " bytes)\r\n";
}

TEST(EditFile, ResultsAndMessages) {
  constexpr EditRequest kExact = EditRequest::kReplaceExact;
  const struct {
    std::string parameters;
    EditRequest request;
    int32_t result;
    std::string message, buffer;
  } cases[] = {
      {"", kExact, -1, "Empty command line\r\n", ""},
      {"\"\" x f.txt", kExact, -1, "Empty command line\r\n", ""},
      {"foo", kExact, -2, "Second change parameter missing\r\n", ""},
      {"a b c d e", kExact, -3, "Too much parameters\r\n", ""},
      {"a b", kExact, -7, "Edit file missing", ""},
      {"a b missing.txt", kExact, -4, "Error on input file missing.txt\r\n", ""},
      {"a b empty.txt", kExact, -7, "Edit file missing", ""},
      {"foo bar f.txt", EditRequest::kReplaceIgnoringCase, 1, Opened("f.txt", 11, 11),
       "bar bar bar"},
      {"foo bar f.txt out.txt", kExact, 1, Opened("out.txt", 11, 11), "bar FOO Foo"},
      {"\"FOO Foo\" \"x  y\" f.txt", kExact, 1, Opened("f.txt", 11, 8), "foo x  y"},
  };
  for (const auto& c : cases) {
    commands::testing::CommandWorld world;
    world.files.files["f.txt"] = "foo FOO Foo";
    world.files.files["empty.txt"] = "";
    SCOPED_TRACE(c.parameters);
    EXPECT_EQ(Edit(world, c.parameters, kMaxEditBufferBytes, c.request), c.result);
    EXPECT_EQ(world.state.edit.message, c.message);
    EXPECT_EQ(world.state.edit.buffer, c.buffer);
    EXPECT_EQ(world.files.files["f.txt"], "foo FOO Foo");  // nothing is written before a save
  }
}

// Nothing is written before a save; naming another file saves the pending one first, even an edit
// that emptied it.
TEST(EditFile, PendingEditAcrossSwitches) {
  commands::testing::CommandWorld world;
  world.files.files = {{"f.txt", "a-c"}, {"two.txt", "x2"}};
  ASSERT_EQ(Edit(world, "a-c \"\" f.txt"), 1);
  ASSERT_EQ(Edit(world, "x z two.txt"), 1);
  EXPECT_EQ(world.files.files["f.txt"], "");
  EXPECT_EQ(world.state.edit.message, "File f.txt (0 bytes) saved\r\n" + Opened("two.txt", 2, 2));
  EXPECT_EQ(Edit(world, "2 y"), 2);
  EXPECT_EQ(world.state.edit.message, "Replace succesful (2 bytes)\r\n");
  EXPECT_EQ(world.files.files["two.txt"], "x2");
  EXPECT_EQ(EditCode(SaveEdit(world.state.edit, world.files)), 3);
  EXPECT_EQ(world.files.files["two.txt"], "zy");
  EXPECT_EQ(world.files.writes, (std::map<std::string, int>{{"f.txt", 1}, {"two.txt", 1}}));
  EXPECT_EQ(EditCode(SaveEdit(world.state.edit, world.files)), 0);
}

TEST(EditFile, SizeLimitsAndReadErrorsLeaveTheEditAsItWas) {
  commands::testing::CommandWorld world;
  world.files.files["exact.txt"] = std::string(5'000'000, 'a');
  world.files.files["big.txt"] = std::string(5'000'001, 'a');
  EXPECT_EQ(Edit(world, "b c exact.txt"), 1);
  EXPECT_EQ(Edit(world, "b c big.txt"), -5);
  EXPECT_EQ(world.state.edit.message, "Edit file > 5.000.000 bytes - big.txt (5000001 bytes)\r\n");
  EXPECT_EQ(world.files.writes["exact.txt"], 1);  // saved on the way
  EXPECT_TRUE(world.state.edit.file_name.empty());
  world.files.read_error = 5;
  EXPECT_EQ(Edit(world, "a b exact.txt"), -6);
  EXPECT_EQ(world.state.edit.message, "\r\nError code=-6/5 Error text 5");
  // Growth past the limit leaves the edit as it was.
  commands::testing::CommandWorld small;
  small.files.files["f.txt"] = "aaaa";
  ASSERT_EQ(Edit(small, "b c f.txt", 10), 1);
  EXPECT_EQ(Edit(small, "a xxx", 10), -6);
  EXPECT_EQ(small.state.edit.message, "\r\nError code=-6/8 The edited text would exceed 10 bytes.");
  EXPECT_EQ(small.state.edit.buffer, "aaaa");
  EXPECT_EQ(small.state.edit.file_name, "f.txt");
}

TEST(SaveEdit, AFailedSaveKeepsTheEditPending) {
  for (const auto failure :
       {WriteOutcome::State::kReplaceFailed, WriteOutcome::State::kWriteFailed}) {
    commands::testing::CommandWorld world;
    world.files.files["f.txt"] = "abc";
    world.files.files["g.txt"] = "ggg";
    ASSERT_EQ(Edit(world, "a x f.txt"), 1);
    world.files.write_failure = failure;
    const int32_t expected = failure == WriteOutcome::State::kReplaceFailed ? -8 : -9;
    EXPECT_EQ(EditCode(SaveEdit(world.state.edit, world.files)), expected);
    EXPECT_EQ(world.state.edit.message, "ERROR - File NOT saved: f.txt\r\nError code=" +
                                            std::to_string(expected) + "/5 Error text 5\r\n");
    // Another file cannot take the edit's place while it is unsaved.
    EXPECT_EQ(Edit(world, "g h g.txt"), expected);
    EXPECT_EQ(world.files.reads["g.txt"], 0);
    world.files.write_failure = WriteOutcome::State::kWritten;
    EXPECT_EQ(EditCode(SaveEdit(world.state.edit, world.files)), 3);
    EXPECT_EQ(world.files.files["f.txt"], "xbc");
  }
}

TEST(ReplaceCommand, AFailureRaisesTheStepRcAndCopiesTheConsole) {
  commands::testing::CommandWorld failed;
  EXPECT_EQ(EditCode(ReplaceCommand(failed.context, true, core::SecretString("/X5R a"), "/X5R a")),
            -1);
  EXPECT_EQ(failed.console.lines.back(), "Invalid Replace function\r\n\r\n");
  EXPECT_EQ(failed.rc.step_rc_value, 5);
  EXPECT_EQ(failed.console_file.saves, 1);
}

TEST(ReplaceCommand, ExpandsAgainWithEmptyValuesQuotedAndShowsNoPassword) {
  commands::testing::CommandWorld world;
  world.expander.values["E"] = "";
  world.files.files["f-s3cret.txt"] = "key=@PW@;";
  // The tail as the dispatcher expanded it for running, and as it may be shown: the file gets the
  // password, the console names the file masked.
  EXPECT_EQ(EditCode(ReplaceCommand(world.context, false,
                                    core::SecretString("/X5L @PW@ s3cret f-s3cret.txt"),
                                    "/X5L @PW@ ***** f-*****.txt")),
            1);
  EXPECT_EQ(EditCode(ReplaceCommand(world.context, false, core::SecretString("/X5L ; %E%"),
                                    "/X5L ; %E%")),
            2);
  FlushEdit(world.context);
  EXPECT_EQ(world.files.files["f-s3cret.txt"], "key=s3cret");
  EXPECT_EQ(world.rc.step_rc_value, 2);
  EXPECT_EQ(world.console_file.saves, 0);
  EXPECT_EQ(world.console.All(), "\r\n/X5L @PW@ ***** f-*****.txt\n" +
                                     Opened("f-*****.txt", 9, 11) +
                                     "\n\r\n/X5L ; \"\"\nReplace succesful (10 bytes)\r\n\n"
                                     "File f-*****.txt (10 bytes) saved\r\n\n");
  // A password with a blank would move the file name: refused, nothing read or written.
  commands::testing::CommandWorld moved;
  moved.files.files["f.txt"] = "@PW@";
  EXPECT_EQ(
      EditCode(ReplaceCommand(moved.context, false, core::SecretString("/X5L @PW@ s3 cret f.txt"),
                              "/X5L @PW@ ***** f.txt")),
      -1);
  EXPECT_TRUE(moved.files.reads.empty());
  EXPECT_EQ(moved.console.lines.back(),
            "Invalid Replace function - a password moves its parameters\r\n");
}

}  // namespace
}  // namespace x5::commands
