// Task files: every key, the defaults, block building, [raw] overrides, refusals; op lines; and
// the ANSI conversion the text keys go through.
#include "x5ctl/text/task_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::text {
namespace {

TaskFile MustParse(std::string_view text, const FieldEncipher& encipher = {}) {
  core::Result<TaskFile> r = ParseTaskFile(text, "t.toml", encipher);
  EXPECT_TRUE(r) << r.failure().text;
  return r ? std::move(*r) : TaskFile{};
}

// Every key given in the form the task is shown in, so each line must come back as it went in.
TEST(TaskFile, EveryKeyReachesItsField) {
  const std::string keys =
      "window_left = 10\nwindow_top = 20\nwindow_width = 640\nwindow_height = 480\n"
      "console_columns = 132\nconsole_rows = 50\njob_number = 4711\nstep_number = 3\n"
      "priority = 41\nuser_name = \"oper\"\ndomain = \"CORP\"\njob_name = \"PAYROLL\"\n"
      "password = \"0123456789012345678901234567890123456789\"\n"
      "working_directory = \"C:\\\\work\"\njob_base_directory = \"C:\\\\jobs\\\\\"\n"
      "console_file = \"C:\\\\jobs\\\\PAYROLL\\\\S03\\\\console.txt\"\nstep_directory = \"STEP3\"\n"
      "maximum_rc = 8\ntask_rc = 2\nstep_minimum_rc = 0\nstep_maximum_rc = 7\nrepeat_count = 5\n"
      "file_buffer_size = 65536\ncondition_line_width = 120\ncondition_line_limit = 500\n"
      "picture_interval = 1000\nos_version = 5\ncommand = \"cmd /c dir\"\n"
      "conditions = \"F=a.txt R=3\"\nvariables = \"SET A=1;SET B=2\"\n";
  const TaskFile f = MustParse(keys);
  const std::string shown = "\n" + FormatTask(f.task, f.blocks);
  std::istringstream lines(keys);
  for (std::string line; std::getline(lines, line);)
    EXPECT_NE(shown.find("\n" + line + "\n"), std::string::npos) << line << " is not in:" << shown;
  EXPECT_EQ(f.task.working_directory, "C:\\work");
  EXPECT_EQ(std::tie(f.task.command_length, f.task.conditions_length, f.task.variables_length),
            std::make_tuple(10, 11, 15));
  // An empty file sends the record alone; the step directory follows the step number.
  EXPECT_EQ(MustParse("").Stream().size(), protocol::kTaskRecordSize);
  EXPECT_EQ(MustParse("step_number = 12").task.step_directory, "S12");
}

TEST(TaskFile, BlocksGetCrLfLineEndsAndTheDelimiterFirstOpsAreRead) {
  TaskFile f = MustParse(
      "conditions = \"\"\"\n->\nF=a.txt R=2\r\n\"\"\"\n"
      "variables = \"SET A=1\\u0001SET B=2\"\n"
      "variables_delimiter = \"\\u0001\"\nops = [\"STAT\", \"sleep 10\", \"KILL 5\"]\n");
  EXPECT_EQ(f.blocks.conditions, "->\r\nF=a.txt R=2\r\n");
  ASSERT_EQ(f.ops.size(), 3u);
  EXPECT_EQ(std::tie(f.ops[0].name, f.ops[1].kind, f.ops[2].argument),
            std::make_tuple("STAT", OpStep::Kind::kSleep, 5));
  EXPECT_EQ(f.Stream().size(), protocol::kTaskRecordSize + 17 + 16);
  EXPECT_EQ(f.blocks.variables, "\x01SET A=1\x01SET B=2");

  TaskFile kept = MustParse("line_ends = \"keep\"\ncommand = \"a\\nb\"\n");
  EXPECT_EQ(kept.blocks.command, "a\nb");

  // A delimiter alone is a one-byte block: an empty list with a new delimiter.
  EXPECT_EQ(MustParse("variables_delimiter = 31\n").blocks.variables, "\x1f");
}

TEST(TaskFile, RawOverridesLengthsAndShapesTheStream) {
  TaskFile f = MustParse(
      "command = \"abc\"\n[raw]\ncommand_length = -5\nvariables_length = 100000\n"
      "extra = \"ZZ\"\n");
  EXPECT_EQ(f.task.command_length, -5);
  EXPECT_EQ(f.task.variables_length, 100000);
  std::vector<uint8_t> stream = f.Stream();
  // The block is sent whatever the record claims, then the extra bytes.
  ASSERT_EQ(stream.size(), protocol::kTaskRecordSize + 5);
  EXPECT_EQ(std::string(stream.end() - 5, stream.end()), "abcZZ");

  TaskFile cut = MustParse("command = \"abc\"\n[raw]\nsend_only = 600\n");
  EXPECT_EQ(cut.Stream().size(), 600u);
}

TEST(TaskFile, PlainPasswordIsEncipheredByTheGivenCipher) {
  FieldEncipher fake = [](std::string_view plain) {
    return plain.size() > 39 ? std::string()
                             : protocol::Padded(std::string("E:") + std::string(plain), 40);
  };
  TaskFile f = MustParse("password_plain = \"secret\"\n", fake);
  EXPECT_EQ(f.task.password, protocol::Padded("E:secret", 40));
  core::Result<TaskFile> too_long =
      ParseTaskFile("password_plain = \"" + std::string(40, 'p') + "\"\n", "t.toml", fake);
  ASSERT_FALSE(too_long);
  EXPECT_NE(too_long.failure().text.find("at most 39"), std::string::npos)
      << too_long.failure().text;
}

TEST(TaskFile, RefusalsNameFileLineAndKey) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"job_name = \"A\"\nbogus = 1\n", "t.toml:2: bogus: unknown key"},
      {"job_number = \"1\"\n", "t.toml:1: job_number: must be an integer"},
      {"job_name = \"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\"",
       "job_name: 33 characters; the field holds 32"},
      {"os_version = 256\n", "os_version: value 256 is out of range (0 to 255)"},
      {"variables_delimiter = \";\"\n", "variables_delimiter: must be one control character"},
      {"password = \"x\"\npassword_plain = \"y\"\n", "give either password or password_plain"},
      {"password_plain = \"y\"\n", "this build cannot encipher passwords"},
      {"[raw]\nlength = 3\n", "t.toml:2: raw.length: unknown key"},
      {"raw = 3\n", "raw: must be a table"},
      {"ops = [\"STATUS\"]\n", "ops item 1: operator command 'STATUS' is longer than 4 characters"},
      {"ops = [\"STAT\", 5]\n", "t.toml:1: ops item 2: must be a string"},
      {"ops = \"STAT\"\n", "ops: must be an array"},
      {"user_name = \"\xe2\x82\xac\xe2\x9c\x93\"\n", "character U+2713 has no ANSI"},
      {"line_ends = \"lf\"\n", "line_ends: must be \"crlf\" or \"keep\""},
      {"job_number = = 3\n", "t.toml:1:"},
  };
  for (const Case& c : cases) {
    core::Result<TaskFile> r = ParseTaskFile(c.text, "t.toml");
    ASSERT_FALSE(r) << c.text;
    EXPECT_NE(r.failure().text.find(c.message), std::string::npos)
        << "input: " << c.text << "\nerror: " << r.failure().text;
  }
  const core::Result<TaskFile> missing = LoadTaskFile("/nonexistent/x5ctl/task.toml");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.failure().text.find("cannot open"), std::string::npos);
  const core::Result<TaskFile> folder = LoadTaskFile("/tmp");
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.failure().text, "/tmp: is a folder, not a task file");
}

TEST(TaskFile, ShownTaskParsesBackToTheSameBytes) {
  TaskFile f = MustParse(
      "user_name = \"M\\u00FCller\"\npassword = \"\\u0000\\u00FF\\\" x\"\n"
      "command = \"cmd /c echo \\\"a\\\\b\\\"\"\nconditions = \"->\\nF=x\"\n"
      "variables_delimiter = \"\\u0002\"\nvariables = \"SET A=\\u20AC\"\n"
      "ops = [\"STAT\", \"sleep 500\", \"KILL 5\", \"END\", \"close\"]\n"
      "[raw]\nconditions_length = 99\n");
  std::string shown = FormatTask(f.task, f.blocks, f.ops);
  TaskFile again = MustParse(shown);
  EXPECT_EQ(again.Stream(), f.Stream()) << shown;
  EXPECT_EQ(FormatOps(again.ops), FormatOps(f.ops));
  EXPECT_EQ(FormatOps(f.ops), "ops = [\"STAT\", \"sleep 500\", \"KILL 5\", \"END\", \"close\"]\n");
}

TEST(OpLine, Forms) {
  struct Case {
    const char* line;
    OpStep::Kind kind;
    const char* name;
    int32_t argument;
    int64_t delay;
  };
  const Case good[] = {
      {"STAT", OpStep::Kind::kSend, "STAT", 0, 0},
      {"  KILL 5  ", OpStep::Kind::kSend, "KILL", 5, 0},
      {"END", OpStep::Kind::kSend, "END ", 0, 0},
      {"XX 0xFFFFFFFF", OpStep::Kind::kSend, "XX  ", -1, 0},
      {"KILL -2147483648", OpStep::Kind::kSend, "KILL", INT32_MIN, 0},
      {"sleep 250", OpStep::Kind::kSleep, "", 0, 250},
      {"close", OpStep::Kind::kClose, "", 0, 0},
  };
  for (const Case& c : good) {
    core::Result<std::optional<OpStep>> p = ParseOpLine(c.line);
    ASSERT_TRUE(p && *p) << c.line << ": " << (p ? "no step" : p.failure().text);
    const OpStep& step = **p;
    EXPECT_EQ(std::tie(step.kind, step.name, step.argument, step.delay_ms),
              std::make_tuple(c.kind, std::string(c.name), c.argument, c.delay))
        << c.line;
  }
  for (const char* skipped : {" \t", "# a comment"}) {
    core::Result<std::optional<OpStep>> p = ParseOpLine(skipped);
    ASSERT_TRUE(p) << skipped;
    EXPECT_FALSE(*p) << skipped;
  }
  for (const char* bad : {"STATS", "KILL 5 6", "KILL x", "KILL 2147483648", "KILL 0x100000000",
                          "sleep", "sleep -1", "close 1", "KILL 0x"}) {
    core::Result<std::optional<OpStep>> p = ParseOpLine(bad);
    ASSERT_FALSE(p) << bad;
    EXPECT_FALSE(p.failure().text.empty()) << bad;
  }
}

TEST(AnsiText, Utf8ConvertsToWindows1252Bytes) {
  const core::Result<std::string> converted = AnsiFromUtf8("M\xc3\xbcller \xe2\x82\xac \xc2\x81");
  ASSERT_TRUE(converted);
  EXPECT_EQ(*converted, "M\xfcller \x80 \x81");
  EXPECT_FALSE(AnsiFromUtf8("\xc3")) << "truncated sequence";
  EXPECT_FALSE(AnsiFromUtf8("\xc0\xaf")) << "overlong form";
  EXPECT_FALSE(AnsiFromUtf8("\xed\xa0\x80")) << "surrogate";
  EXPECT_FALSE(AnsiFromUtf8("\xf0\x9f\x98\x80")) << "outside the code page";
  // Every byte survives the trip to UTF-8 and back.
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  const core::Result<std::string> back = AnsiFromUtf8(Utf8FromAnsi(all));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, all);
}

TEST(AnsiText, VisibleAndQuotedForms) {
  EXPECT_EQ(QuotedText("STEP OK "), "\"STEP OK \"");
  EXPECT_EQ(QuotedText("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(VisibleText(std::string("\x00\t\\\xfc\x81", 5)), "\\x00\\x09\\\xc3\xbc\\x81");
  EXPECT_EQ(TomlString("a\"\\\x01\xff"), "\"a\\\"\\\\\\u0001\\u00FF\"");
}

}  // namespace
}  // namespace x5::ctl::text
