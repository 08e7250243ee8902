// SET/SETP lines, the variables block, step variables and global parameter files.
#include "variables/variables.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cipher/password_cipher.h"
#include "variables/testing/test_fakes.h"

namespace x5::variables {
namespace {

using testing::FakeRun;

TEST(ParseSetLine, Table) {
  struct Case {
    int32_t position;
    std::string text;
    int32_t next;
    std::string name, value;
  };
  const std::string marker(1, kPasswordMarker);
  const Case cases[] = {
      {1, "SET A=1", 0, "A", "1"},
      {1, "SET A=1\r\nSET B=2", 10, "A", "1"},
      {10, "SET A=1\r\nSET B=2", 0, "B", "2"},
      {1, "SET  NAME = value ", 0, "NAME", " value "},
      {1, "setp PW=ABCD", 0, "PW", marker + "ABCD"},
      {1, "SET X  ", 0, "X", ""},
      {1, "  set a=b=c", 0, "a", "b=c"},
      {1, "RESET Q=1", 0, "Q", "1"},   // "SET" counts wherever it stands
      {1, "\r\nSET B=2", -1, "", ""},  // an empty line ends the block
      {0, "SET A=1", -1, "", ""},
      {8, "SET A=1", -1, "", ""},
  };
  for (const Case& c : cases) {
    const SetLineResult r = ParseSetLine(c.position, c.text);
    EXPECT_EQ(r.next, c.next) << c.text << " @" << c.position;
    EXPECT_EQ(r.name + "=" + r.value, c.name + "=" + c.value) << c.text << " @" << c.position;
  }
}

TEST(ParameterFileValue, Table) {
  const std::pair<std::string, std::string> cases[] = {
      {"\"hello\"", "hello"}, {"\"\"", ""},         {"plain", "plain"}, {"\"", "\""},
      {"\"open", "\"open"},   {"\"a\"b\"", "a\"b"}, {"", ""},           {"\"x\" tail", "x"},
      {" \"x\"", " \"x\""},
  };
  for (const auto& [line, want] : cases)
    EXPECT_EQ(ParameterFileValue(line), want) << line;
}

TEST(GlobalParameterNameProblem, Table) {
  for (const char* name : {"X$", "ABC$", "$", "A.B$", "CON$", "COM1$", "NUL X$", "Été$"})
    EXPECT_EQ(GlobalParameterNameProblem(name), "") << name;
  for (const char* name : {"a..b$", "a\\b$", "a/b$", "C:x$", "CON.x$", "com9 .a$", "CONOUT$",
                           "CLOCK$", "a\x01$", "a*b$", "X5S=$", "%PATH%$"})
    EXPECT_NE(GlobalParameterNameProblem(name), "") << name;
  EXPECT_NE(GlobalParameterNameProblem(std::string(252, 'x') + "$"), "");
}

class StepVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    protocol::TaskRecord& t = run_.task;
    t.job_base_directory = protocol::Padded("C:\\Jobs\\", protocol::kPathWidth);
    t.job_name = protocol::Padded("PAY", protocol::kJobNameWidth);
    t.step_directory = protocol::Padded("S01", protocol::kStepDirectoryWidth);
    t.user_name = protocol::Padded("clerk", protocol::kUserNameWidth);
    t.working_directory = protocol::Padded("C:\\work\\%A%\\%PW%", protocol::kPathWidth);
    t.job_number = 42;
    t.step_number = 3;
    t.repeat_count = 2;
    t.maximum_rc = 8;
    t.task_rc = 4;
  }
  // Table entries or console lines as one text.
  static std::string Joined(const std::vector<std::string>& lines, size_t count = SIZE_MAX) {
    std::string all;
    for (size_t i = 0; i < lines.size() && i < count; ++i)
      all += lines[i] + "|";
    return all;
  }
  std::string Expand(std::string_view text) {
    return ExpandVariables(run_.context, text, kMaskPasswords, false);
  }
  static constexpr const char* kDir = "C:\\Jobs\\PAY\\S01\\";
  variables::testing::FakeRun run_;
};

TEST_F(StepVariablesTest, DefinesTaskVariablesInOrderThenSetLinesThenX5W) {
  run_.SetBlock("SET A=1;SETP PW=" + cipher::EncipherVariable("pw"));
  EXPECT_EQ(SetStepVariables(run_.context), 13);
  ASSERT_EQ(run_.table.size(), 13u);
  EXPECT_EQ(Joined(run_.table, 11),
            "X5S=C:\\Jobs\\PAY\\S01\\|X5T=C:\\Jobs\\PAY\\|X5N=42|X5D=S01|X5Step=3|X5User=clerk|"
            "X5Name=PAY|X5RepC=2|X5Max=8|X5TRC=4|A=1|");
  EXPECT_EQ(run_.table[11].substr(0, 4), std::string("PW=") + kPasswordMarker);
  EXPECT_EQ(run_.table.back(), "X5W=C:\\work\\1\\*****");  // never the deciphered password
  EXPECT_EQ(run_.global_parameter_directory, kDir);
}

// The block's entries: between the ten task variables and X5W.
TEST_F(StepVariablesTest, BlocksEndAtALineWithoutSetAndSplitAtTheirDelimiter) {
  const std::tuple<std::string, char, std::string> cases[] = {
      {"SET A=1;;SET B=2", ';', "A=1|"},
      {"SET A=1;x\x01SET B=2", '\x01', "A=1;x|B=2|"},
      {"SET =1;SET;SET C=3", ';', "C=3|"},
      // A name the environment would cut or read otherwise defines nothing; the block goes on.
      {std::string("SETP PW\0X=1;SET B\tC=2;SET C=3", 29), ';', "C=3|"},
  };
  for (const auto& [block, delimiter, want] : cases) {
    variables::testing::FakeRun run;
    run.task = run_.task;
    run.SetBlock(block, delimiter);
    SetStepVariables(run.context);
    EXPECT_EQ(Joined({run.table.begin() + 10, run.table.end() - 1}), want) << block;
  }
}

// Values are the files' first lines, unquoted; names that are not names, files of other steps,
// unreadable files and values with control bytes define nothing; loading never writes back.
TEST_F(StepVariablesTest, GlobalParameterFilesAreDataNeverNames) {
  const std::pair<std::string, std::string> files[] = {
      {"ABC$.$$$", "\"hello\"\r\nignored"},
      {"E$.$$$", "\"\"\r\n"},
      {"ABC.$$$", "\"no dollar\""},
      {".$$$", "\"nameless\""},
      {"X5S=$.$$$", "\"C:\\elsewhere\\\""},
      {"P%ATH$.$$$", "\"x\""},
      {"NUL0$.$$$", std::string("\"a\0B=b\"", 8)},
      {"Z$.$$$", "\"secret\""},
      {"TAB$.$$$", "\"a\tb\""},
  };
  for (const auto& [name, content] : files)
    run_.files.files[kDir + name] = content;
  run_.files.files["C:\\Jobs\\PAY\\S02\\OTHER$.$$$"] = "\"other step\"";
  run_.files.unreadable.insert(kDir + std::string("Z$.$$$"));
  SetStepVariables(run_.context);
  EXPECT_EQ(Joined(run_.table, 4), "ABC$=hello|E$=|TAB$=a\tb|X5S=C:\\Jobs\\PAY\\S01\\|");
  const std::string file = std::string("/X5  Global parameter file ") + kDir;
  EXPECT_EQ(Joined(run_.console.lines),
            file + "NUL0$.$$$ skipped: its first line holds a control character|" + file +
                "P%ATH$.$$$ skipped: the name holds \"%\"|" + file +
                "X5S=$.$$$ skipped: the name holds \"=\"|" + file + "Z$.$$$ could not be read|");
  EXPECT_EQ(run_.files.writes, 0);
}

// Too many files, or too many bytes: the files past the bound define nothing, and one line says
// how many were skipped. (Each table holds the files, X5S..X5TRC and X5W.)
TEST_F(StepVariablesTest, GlobalParameterFilesAreBoundedInNumberAndSize) {
  const std::string line(size_t{1} << 20, 'v');
  const size_t fit = kMaxParameterBytes / line.size();
  for (const auto& [count, content, defined] :
       {std::tuple{kMaxParameterFiles + 3, std::string("1"), kMaxParameterFiles},
        std::tuple{fit + 2, line, fit}}) {
    variables::testing::FakeRun run;
    run.task = run_.task;
    for (size_t i = 0; i < count; ++i)
      run.files.files[kDir + std::to_string(100000 + i) + "$.$$$"] = content;
    SetStepVariables(run.context);
    EXPECT_EQ(run.table.size(), defined + 11);
    ASSERT_EQ(run.console.lines.size(), 1u);
    EXPECT_NE(run.console.lines[0].find(" skipped: " + std::to_string(count - defined)),
              std::string::npos)
        << run.console.lines[0];
  }
}

TEST_F(StepVariablesTest, SetLineWritesGlobalParameterButLoadedValueWinsForExpansion) {
  run_.files.files[std::string(kDir) + "X$.$$$"] = "\"old\"\r\n";
  run_.SetBlock("SET X$=5");
  SetStepVariables(run_.context);
  EXPECT_EQ(run_.files.files[std::string(kDir) + "X$.$$$"], "\"5\"\r\n");
  EXPECT_EQ(Expand("%X$%"), "old");
  EXPECT_NE(std::find(run_.table.begin(), run_.table.end(), "X$=5"), run_.table.end());
}

// A global parameter is defined whatever becomes of its file (a name no variable can have is not);
// what the loader would skip is not written, as it would be lost to the next step without a word.
TEST_F(StepVariablesTest, AddVariableWritesGlobalParametersOnlyWhenTheyLoadBack) {
  const std::string refusal = "***** C:\\Jobs\\PAY\\S01\\F$.$$$ not written: its folder is a link";
  const std::string not_written = "/X5  Global parameter ";
  const struct {
    std::string name, value;
    int32_t write_error;
    std::string refused, console, files;  // the files written, path:content
    bool defined = true;
  } cases[] = {
      {"T$", "a\tb", 0, "", not_written + "T$ written to " + kDir + "T$.$$$",
       kDir + std::string("T$.$$$:\"a\tb\"\r\n")},
      {"F$", "1", -5, "", "", ""},  // a failed write is quiet, a refusal is not
      {"F$", "1", 0, refusal, refusal, ""},
      {"C$", "a\rb", 0, "", not_written + "C$ not written: its value holds a control character",
       ""},
      {"..\\..\\evil$", "v", 0, "",
       not_written + "..\\..\\evil$ not written: the name holds a path separator", ""},
      {"a*b$", "v", 0, "",
       not_written + "a*b$ not written: the name holds a character that file names cannot hold",
       ""},
      {"bell\a$", "v", 0, "",
       "/X5  Variable bell?$ not defined: the name holds a control character", "", false},
  };
  for (const auto& c : cases) {
    variables::testing::FakeRun run;
    run.global_parameter_directory = kDir;
    run.files.write_error = c.write_error;
    run.files.refusal = c.refused;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AddVariable(run.context, c.name, c.value), !c.defined ? core::Added::kNotDefined
                                                         : c.files.empty()
                                                             ? core::Added::kFileNotWritten
                                                             : core::Added::kDefined);
    EXPECT_EQ(run.table, (c.defined ? std::vector<std::string>{c.name + "=" + c.value}
                                    : std::vector<std::string>{}));
    EXPECT_EQ(Joined(run.console.lines), c.console.empty() ? "" : c.console + "|");
    std::string files;
    for (const auto& [path, content] : run.files.files)
      files += path + ":" + content;
    EXPECT_EQ(files, c.files);
  }
  // Before the files are loaded nothing is written.
  EXPECT_EQ(AddVariable(run_.context, "EARLY$", "1"), core::Added::kDefined);
  EXPECT_EQ(AddVariable(run_.context, "N", int64_t{42}), core::Added::kDefined);
  EXPECT_EQ(run_.table.back(), "N=42");
  EXPECT_EQ(run_.files.writes, 0);
}

}  // namespace
}  // namespace x5::variables
