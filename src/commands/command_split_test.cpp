// Command splitting: token rules, switch tails, kinds and the association retry.
#include "commands/command_split.h"

#include <gtest/gtest.h>

#include "commands/commands_test_support.h"

namespace x5 {
namespace {

struct TokenCase {
  std::string source;
  bool strip;
  std::string token;
  std::string rest;
};

TEST(SplitToken, Table) {
  const TokenCase cases[] = {
      {"", false, "", ""},
      {"   ", true, "", ""},
      {"prog", false, "prog", ""},
      {"  prog a b ", false, "prog", " a b"},
      {"\"C:\\My Files\\a.doc\" x", false, "\"C:\\My Files\\a.doc\"", " x"},
      {"\"C:\\My Files\\a.doc\" x", true, "C:\\My Files\\a.doc", " x"},
      {"\"a\"\"b\" c", false, "\"a\"\"b\"", " c"},
      {"\"a\"\"b\" c", true, "a\"b", " c"},
      {"\"unclosed text", false, "\"unclosed text", ""},
      {"\"unclosed text", true, "unclosed text", ""},
      {"\"a\"x y", false, "\"a\"", "x y"},
      {"\"\"", false, "\"\"", ""},
      {"\"\"", true, "", ""},
      {"\"", false, "\"", ""},
      {"\"a\"\"\"", false, "\"a\"\"\"", ""},
      {"\"a\"\"\"", true, "a\"", ""},
  };
  for (const TokenCase& c : cases) {
    std::string rest = "stale";
    EXPECT_EQ(SplitToken(c.source, rest, c.strip), c.token) << c.source << " strip=" << c.strip;
    EXPECT_EQ(rest, c.rest) << c.source << " strip=" << c.strip;
  }
}

struct LineCase {
  std::string line;
  std::map<std::string, std::string> found;  // lookup table
  CommandKind kind;
  std::string associated;
  std::string token;
  std::string name;
  std::string parameters;
  std::string tail;
  std::string argument;
  size_t lookups;
};

TEST(ParseCommandLine, Table) {
  const std::string notepad = "C:\\Windows\\notepad.exe";
  const LineCase cases[] = {
      {"   ", {}, CommandKind::kNotFound, "", "", "", "", "", "", 0},
      {"/X5J 2000", {}, CommandKind::kNotFound, "", "", "", "", " /X5J 2000", "", 0},
      {"  /x5? ", {}, CommandKind::kNotFound, "", "", "", "", " /x5? ", "", 0},
      {"prog.exe a b",
       {{"prog.exe", "C:\\bin\\prog.exe"}},
       CommandKind::kProgram,
       "C:\\bin\\prog.exe",
       "prog.exe",
       "prog.exe",
       " a b",
       "",
       "",
       1},
      {"report.txt",
       {{"report.txt", notepad}},
       CommandKind::kDocument,
       notepad,
       "report.txt",
       "report.txt",
       "",
       "",
       "",
       1},
      {"\"C:\\My Files\\a.doc\" x",
       {{"C:\\My Files\\a.doc", "C:\\Office\\word.exe"}},
       CommandKind::kDocument,
       "C:\\Office\\word.exe",
       "\"C:\\My Files\\a.doc\"",
       "C:\\My Files\\a.doc",
       " x",
       "",
       "",
       1},
      {"\"a\"\"b.exe\"",
       {{"a\"b.exe", "C:\\a\"b.exe"}},
       CommandKind::kProgram,
       "C:\\a\"b.exe",
       "\"a\"\"b.exe\"",
       "a\"b.exe",
       "",
       "",
       "",
       1},
      // No extension, a dot only in a folder, or an upper-case path: the program itself.
      {"tool",
       {{"tool", "C:\\bin\\tool.exe"}},
       CommandKind::kProgram,
       "C:\\bin\\tool.exe",
       "tool",
       "tool",
       "",
       "",
       "",
       1},
      {"C:\\v1.2\\prog",
       {{"C:\\v1.2\\prog", "C:\\v1.2\\prog.exe"}},
       CommandKind::kProgram,
       "C:\\v1.2\\prog.exe",
       "C:\\v1.2\\prog",
       "C:\\v1.2\\prog",
       "",
       "",
       "",
       1},
      {"app.exe",
       {{"app.exe", "C:\\BIN\\APP.EXE"}},
       CommandKind::kProgram,
       "C:\\BIN\\APP.EXE",
       "app.exe",
       "app.exe",
       "",
       "",
       "",
       1},
      // Short extensions and extensions that end the program's name are still documents.
      {"file.c",
       {{"file.c", "C:\\ed\\edit.exe"}},
       CommandKind::kDocument,
       "C:\\ed\\edit.exe",
       "file.c",
       "file.c",
       "",
       "",
       "",
       1},
      {"a.xe",
       {{"a.xe", "C:\\x\\prog.exe"}},
       CommandKind::kDocument,
       "C:\\x\\prog.exe",
       "a.xe",
       "a.xe",
       "",
       "",
       "",
       1},
      // The lookup may pad with NULs and cut at a blank with one.
      {"app.exe",
       {{"app.exe", std::string("C:\\Program\0Files\\app.exe\0\0\0", 27)}},
       CommandKind::kProgram,
       "C:\\Program Files\\app.exe",
       "app.exe",
       "app.exe",
       "",
       "",
       "",
       1},
      // Retry on the runner's drive.
      {"\\docs\\a.txt",
       {{"D:\\docs\\a.txt", notepad}},
       CommandKind::kDocument,
       notepad,
       "D:\\docs\\a.txt",
       "D:\\docs\\a.txt",
       "",
       "",
       "",
       2},
      {"\"\\docs\\a b.txt\" p",
       {{"D:\\docs\\a b.txt", notepad}},
       CommandKind::kDocument,
       notepad,
       "\"D:\\docs\\a b.txt\"",
       "D:\\docs\\a b.txt",
       " p",
       "",
       "",
       2},
      {"\\a.txt x", {}, CommandKind::kNotFound, "", "\\a.txt", "\\a.txt", " x", "", "", 2},
      {"\\docs\\a.x5",
       {},
       CommandKind::kNotFound,
       "",
       "\\docs\\a.x5",
       "\\docs\\a.x5",
       "",
       "",
       "",
       1},
      {"\\docs\\readme",
       {},
       CommandKind::kNotFound,
       "",
       "\\docs\\readme",
       "\\docs\\readme",
       "",
       "",
       "",
       1},
      {"\\\\server\\share\\a.txt",
       {},
       CommandKind::kNotFound,
       "",
       "\\\\server\\share\\a.txt",
       "\\\\server\\share\\a.txt",
       "",
       "",
       "",
       1},
      {"x.txt", {}, CommandKind::kNotFound, "", "x.txt", "x.txt", "", "", "", 1},
      {"\\a", {}, CommandKind::kNotFound, "", "\\a", "\\a", "", "", "", 1},
      // Switch tails: the last "/X5" in any case; "+" or "-" after it is skipped.
      {"prog.exe a /X5S A=1",
       {},
       CommandKind::kNotFound,
       "",
       "prog.exe",
       "prog.exe",
       " a",
       " /X5S A=1",
       "S A=1",
       1},
      {"prog /X5+J 5 ", {}, CommandKind::kNotFound, "", "prog", "prog", "", " /X5+J 5 ", "J 5", 1},
      {"a /x5r b /X5L c", {}, CommandKind::kNotFound, "", "a", "a", " /x5r b", " /X5L c", "L c", 1},
      {"a /X5", {}, CommandKind::kNotFound, "", "a", "a", "", " /X5", "", 1},
  };
  for (const LineCase& c : cases) {
    command_testing::TableAssociations associations;
    associations.paths = c.found;
    CommandLineParts parts;
    parts.program_token = "stale";
    ParseCommandLine(parts, c.line, associations, 'D');
    SCOPED_TRACE(c.line);
    EXPECT_EQ(parts.kind, c.kind);
    EXPECT_EQ(parts.associated_program, c.associated);
    EXPECT_EQ(parts.program_token, c.token);
    EXPECT_EQ(parts.program_name, c.name);
    EXPECT_EQ(parts.parameters, c.parameters);
    EXPECT_EQ(parts.switch_tail, c.tail);
    EXPECT_EQ(parts.switch_argument, c.argument);
    EXPECT_EQ(associations.lookups.size(), c.lookups);
  }
}

TEST(ParseCommandLine, NoRetryWithoutARunnerDrive) {
  command_testing::TableAssociations associations;
  CommandLineParts parts;
  ParseCommandLine(parts, "\\docs\\a.txt", associations, '\0');
  EXPECT_EQ(parts.kind, CommandKind::kNotFound);
  EXPECT_EQ(associations.lookups.size(), 1u);
}

TEST(SwitchTailOf, MatchesTheParser) {
  EXPECT_EQ(SwitchTailOf("  a /x5s B=1"), " /x5s B=1");
  EXPECT_EQ(SwitchTailOf("no switch"), "");
  EXPECT_EQ(SwitchTailOf("/X"), "");
}

}  // namespace
}  // namespace x5
