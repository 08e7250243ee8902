// The replace switches: parameters, results and messages, the pending edit across switches, the
// size limits, safe saving, and the command's console output and RC handling.
#include "commands/replace_in_file.h"

#include <gtest/gtest.h>

#include "commands/commands_test_support.h"
#include "commands/dispatcher.h"

namespace x5 {
namespace {

using command_testing::CommandWorld;

int32_t Edit(CommandWorld& w, std::string_view parameters, size_t limit = kMaxEditBufferBytes) {
  return EditFile(w.edit, EditRequest::kReplaceExact, parameters, w.files, w.context.case_fold,
                  limit);
}

struct EditCase {
  std::string parameters;
  EditRequest request;
  int32_t result;
  std::string message;
  std::string buffer;
};

TEST(EditFile, ResultsAndMessages) {
  const EditCase cases[] = {
      {"", EditRequest::kReplaceExact, -1, "Empty command line\r\n", ""},
      {"\"\" x f.txt", EditRequest::kReplaceExact, -1, "Empty command line\r\n", ""},
      {"foo", EditRequest::kReplaceExact, -2, "Second change parameter missing\r\n", ""},
      {"a b c d e", EditRequest::kReplaceExact, -3, "Too much parameters\r\n", ""},
      {"a b", EditRequest::kReplaceExact, -7, "Edit file missing", ""},
      {"a b missing.txt", EditRequest::kReplaceExact, -4, "Error on input file missing.txt\r\n",
       ""},
      {"foo bar f.txt", EditRequest::kReplaceIgnoringCase, 1,
       "\r\nFile f.txt opened (11 bytes)\r\nReplace succesful (11 bytes)\r\n", "bar bar bar"},
      {"foo bar f.txt", EditRequest::kReplaceExact, 1,
       "\r\nFile f.txt opened (11 bytes)\r\nReplace succesful (11 bytes)\r\n", "bar FOO Foo"},
      {"foo bar f.txt out.txt", EditRequest::kReplaceExact, 1,
       "\r\nFile out.txt opened (11 bytes)\r\nReplace succesful (11 bytes)\r\n", "bar FOO Foo"},
      {"\"FOO Foo\" \"x  y\" f.txt", EditRequest::kReplaceExact, 1,
       "\r\nFile f.txt opened (11 bytes)\r\nReplace succesful (8 bytes)\r\n", "foo x  y"},
      {"zz yy f.txt", EditRequest::kReplaceExact, 1,
       "\r\nFile f.txt opened (11 bytes)\r\nReplace succesful (11 bytes)\r\n", "foo FOO Foo"},
      {"foo \"\" f.txt", EditRequest::kReplaceIgnoringCase, 1,
       "\r\nFile f.txt opened (11 bytes)\r\nReplace succesful (2 bytes)\r\n", "  "},
      {"a b", EditRequest::kSave, 0, "", ""},
  };
  for (const EditCase& c : cases) {
    CommandWorld world;
    world.files.files["f.txt"] = "foo FOO Foo";
    const int32_t result = EditFile(world.edit, c.request, c.parameters, world.files,
                                    world.context.case_fold, kMaxEditBufferBytes);
    SCOPED_TRACE(c.parameters);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(world.edit.message, c.message);
    EXPECT_EQ(world.edit.buffer, c.buffer);
    EXPECT_EQ(world.files.files["f.txt"], "foo FOO Foo");  // nothing is written before a save
  }
}

TEST(EditFile, PendingEditAcrossSwitches) {
  CommandWorld world;
  world.files.files["f.txt"] = "a-c";
  EXPECT_EQ(Edit(world, "a b f.txt"), 1);
  EXPECT_EQ(Edit(world, "c d"), 2);
  EXPECT_EQ(world.edit.message, "Replace succesful (3 bytes)\r\n");
  EXPECT_EQ(world.edit.file_name, "f.txt");
  EXPECT_EQ(world.files.files["f.txt"], "a-c");
  EXPECT_EQ(SaveEdit(world.edit, world.files), 3);
  EXPECT_EQ(world.edit.message, "File f.txt (3 bytes) saved\r\n");
  EXPECT_EQ(world.files.files["f.txt"], "b-d");
  EXPECT_EQ(world.files.reads["f.txt"], 1);
  EXPECT_EQ(world.files.writes["f.txt"], 1);
  EXPECT_TRUE(world.edit.file_name.empty());
  EXPECT_EQ(SaveEdit(world.edit, world.files), 0);
}

TEST(EditFile, NamingAnotherFileSavesThePendingOneFirst) {
  CommandWorld world;
  world.files.files["one.txt"] = "x1";
  world.files.files["two.txt"] = "x2";
  ASSERT_EQ(Edit(world, "x y one.txt"), 1);
  ASSERT_EQ(Edit(world, "x z two.txt"), 1);
  EXPECT_EQ(world.files.files["one.txt"], "y1");
  EXPECT_EQ(world.edit.message,
            "File one.txt (2 bytes) saved\r\n\r\nFile two.txt opened (2 bytes)\r\nReplace "
            "succesful (2 bytes)\r\n");
  EXPECT_EQ(world.edit.buffer, "z2");
}

TEST(EditFile, FileSizeLimit) {
  CommandWorld world;
  world.files.files["exact.txt"] = std::string(5'000'000, 'a');
  world.files.files["big.txt"] = std::string(5'000'001, 'a');
  EXPECT_EQ(Edit(world, "b c exact.txt"), 1);
  EXPECT_EQ(Edit(world, "b c big.txt"), -5);
  EXPECT_EQ(world.edit.message, "Edit file > 5.000.000 bytes - big.txt (5000001 bytes)\r\n");
  // The first file was saved on the way and nothing is pending.
  EXPECT_EQ(world.files.writes["exact.txt"], 1);
  EXPECT_TRUE(world.edit.file_name.empty());
}

TEST(EditFile, ReadErrorsCarryTheSystemText) {
  CommandWorld world;
  world.files.files["f.txt"] = "abc";
  world.files.read_error = 5;
  EXPECT_EQ(Edit(world, "a b f.txt"), -6);
  EXPECT_EQ(world.edit.message, "\r\nError code=-6/5 Error text 5");
  EXPECT_TRUE(world.edit.file_name.empty());
}

TEST(EditFile, GrowthPastTheLimitLeavesTheEditAsItWas) {
  CommandWorld world;
  world.files.files["f.txt"] = "aaaa";
  ASSERT_EQ(Edit(world, "b c f.txt", 10), 1);
  EXPECT_EQ(Edit(world, "a xxx", 10), -6);
  EXPECT_EQ(world.edit.message, "\r\nError code=-6/8 The edited text would exceed 10 bytes.");
  EXPECT_EQ(world.edit.buffer, "aaaa");
  EXPECT_EQ(world.edit.file_name, "f.txt");
  // With a file named the new text is not taken either; the file stays as it is.
  EXPECT_EQ(Edit(world, "a xxx f.txt", 10), -6);
  EXPECT_TRUE(world.edit.file_name.empty());
  EXPECT_EQ(world.files.files["f.txt"], "aaaa");
}

TEST(EditFile, EmptyTextsAreEditsToo) {
  CommandWorld world;
  world.files.files["empty.txt"] = "";
  world.files.files["f.txt"] = "abc";
  EXPECT_EQ(Edit(world, "a b empty.txt new.txt"), 1);
  EXPECT_EQ(SaveEdit(world.edit, world.files), 3);
  EXPECT_EQ(world.files.files.count("new.txt"), 1u);
  // A replacement that empties the file is saved, not dropped.
  EXPECT_EQ(Edit(world, "abc \"\" f.txt"), 1);
  EXPECT_EQ(SaveEdit(world.edit, world.files), 3);
  EXPECT_EQ(world.files.files["f.txt"], "");
}

TEST(SaveEdit, AFailedSaveKeepsTheEditPending) {
  for (const auto failure :
       {WriteOutcome::State::kReplaceFailed, WriteOutcome::State::kWriteFailed}) {
    CommandWorld world;
    world.files.files["f.txt"] = "abc";
    world.files.files["g.txt"] = "ggg";
    ASSERT_EQ(Edit(world, "a x f.txt"), 1);
    world.files.write_failure = failure;
    const int32_t expected = failure == WriteOutcome::State::kReplaceFailed ? -8 : -9;
    EXPECT_EQ(SaveEdit(world.edit, world.files), expected);
    EXPECT_EQ(world.edit.message, "ERROR - File NOT saved: f.txt\r\nError code=" +
                                      std::to_string(expected) + "/5 Error text 5\r\n");
    EXPECT_EQ(world.edit.file_name, "f.txt");
    EXPECT_EQ(world.edit.buffer, "xbc");
    EXPECT_EQ(world.files.files["f.txt"], "abc");
    // Another file cannot take the edit's place while it is unsaved.
    EXPECT_EQ(Edit(world, "g h g.txt"), expected);
    EXPECT_EQ(world.edit.file_name, "f.txt");
    EXPECT_EQ(world.files.reads["g.txt"], 0);
    world.files.write_failure = WriteOutcome::State::kWritten;
    EXPECT_EQ(SaveEdit(world.edit, world.files), 3);
    EXPECT_EQ(world.files.files["f.txt"], "xbc");
  }
}

TEST(ReplaceCommand, ConsoleOutputAndResult) {
  CommandWorld world;
  world.files.files["f.txt"] = "foo";
  EXPECT_EQ(
      ReplaceCommand(world.context, true, SecretString("/X5R FOO bar f.txt"), "/X5R FOO bar f.txt"),
      1);
  ASSERT_EQ(world.console.lines.size(), 2u);
  EXPECT_EQ(world.console.lines[0], "\r\n/X5R FOO bar f.txt");
  EXPECT_EQ(world.console.lines[1],
            "\r\nFile f.txt opened (3 bytes)\r\nReplace succesful (3 bytes)\r\n");
  EXPECT_EQ(world.edit.buffer, "bar");
  EXPECT_EQ(world.rc.step_rc_value, 2);
  EXPECT_EQ(world.console_file.saves, 0);
}

TEST(ReplaceCommand, FailuresRaiseTheStepRcAndCopyTheConsole) {
  struct Case {
    std::string text;
    int32_t step_rc;
    int32_t result;
    int32_t raised;
  };
  const Case cases[] = {
      {"/X5R a", 2, -1, 5},
      {"/X5L a b missing.txt", 2, -4, 5},
      {"/X5L a b c d e", 0, -3, 0},  // a step RC value of 0 stays
      {"/X5L a b c d e", 4, -3, 4},  // at the step maximum already
  };
  for (const Case& c : cases) {
    CommandWorld world;
    world.rc.step_rc_value = c.step_rc;
    EXPECT_EQ(ReplaceCommand(world.context, false, SecretString(c.text), c.text), c.result)
        << c.text;
    EXPECT_EQ(world.rc.step_rc_value, c.raised) << c.text;
    EXPECT_EQ(world.console_file.saves, 1) << c.text;
  }
  CommandWorld world;
  (void)ReplaceCommand(world.context, true, SecretString("/X5R a"), "/X5R a");
  EXPECT_EQ(world.console.lines.back(), "Invalid Replace function\r\n\r\n");
}

TEST(ReplaceCommand, ExpandsAgainWithEmptyValuesQuotedAndShowsNoPassword) {
  CommandWorld world;
  world.expander.values["E"] = "";
  world.files.files["f-s3cret.txt"] = "key=@PW@;";
  // The tail as the dispatcher expanded it for running, and as it may be shown: the file gets the
  // password, the console names the file masked.
  EXPECT_EQ(ReplaceCommand(world.context, false, SecretString("/X5L @PW@ s3cret f-s3cret.txt"),
                           "/X5L @PW@ ***** f-*****.txt"),
            1);
  EXPECT_EQ(world.edit.buffer, "key=s3cret;");
  EXPECT_EQ(ReplaceCommand(world.context, false, SecretString("/X5L ; %E%"), "/X5L ; %E%"), 2);
  EXPECT_EQ(world.edit.buffer, "key=s3cret");
  FlushEdit(world.context);
  EXPECT_EQ(world.files.files["f-s3cret.txt"], "key=s3cret");
  EXPECT_EQ(world.console.All(),
            "\r\n/X5L @PW@ ***** f-*****.txt\n"
            "\r\nFile f-*****.txt opened (9 bytes)\r\nReplace succesful (11 bytes)\r\n\n"
            "\r\n/X5L ; \"\"\nReplace succesful (10 bytes)\r\n\n"
            "File f-*****.txt (10 bytes) saved\r\n\n");
  // A password with a blank would move the file name: refused, nothing read or written.
  CommandWorld moved;
  moved.files.files["f.txt"] = "@PW@";
  EXPECT_EQ(ReplaceCommand(moved.context, false, SecretString("/X5L @PW@ s3 cret f.txt"),
                           "/X5L @PW@ ***** f.txt"),
            -1);
  EXPECT_TRUE(moved.files.reads.empty());
  EXPECT_EQ(moved.console.lines.back(),
            "Invalid Replace function - a password moves its parameters\r\n");
  EXPECT_EQ(moved.rc.step_rc_value, 5);
}

}  // namespace
}  // namespace x5
