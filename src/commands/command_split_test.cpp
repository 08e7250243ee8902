// Command splitting: token rules, switch tails, kinds and the association retry.
#include "commands/command_split.h"

#include <gtest/gtest.h>

#include "commands/testing/commands_test_support.h"

namespace x5::commands {
namespace {

TEST(SplitToken, Table) {
  struct Case {
    std::string source;
    bool strip;
    std::string token, rest;
  };
  const Case cases[] = {
      {"", false, "", ""},
      {"  prog a b ", false, "prog", " a b"},
      {"\"C:\\My Files\\a.doc\" x", false, "\"C:\\My Files\\a.doc\"", " x"},
      {"\"C:\\My Files\\a.doc\" x", true, "C:\\My Files\\a.doc", " x"},
      {"\"a\"\"b\" c", true, "a\"b", " c"},
      {"\"unclosed text", true, "unclosed text", ""},
      {"\"a\"x y", false, "\"a\"", "x y"},
      {"\"\"", true, "", ""},
      {"\"", false, "\"", ""},
      {"\"a\"\"\"", true, "a\"", ""},
  };
  for (const Case& c : cases) {
    std::string rest = "stale";
    EXPECT_EQ(SplitToken(c.source, rest, c.strip), c.token) << c.source << " strip=" << c.strip;
    EXPECT_EQ(rest, c.rest) << c.source << " strip=" << c.strip;
  }
}

// The parts in one line: kind (P program, D document, - not found), associated program, token,
// name, parameters, switch tail, switch argument and the number of association lookups.
std::string Parsed(std::string_view line, char drive = 'D') {
  commands::testing::TableAssociations associations;
  associations.paths = {{"prog.exe", "C:\\BIN\\P.EXE"},
                        {"report.txt", "C:\\n.exe"},
                        {"C:\\My Files\\a.doc", "C:\\w.exe"},
                        {"tool", "C:\\bin\\tool.exe"},
                        {"C:\\v1.2\\prog", "C:\\v1.2\\prog.exe"},
                        {"file.c", "C:\\ed\\edit.exe"},
                        {"a.xe", "C:\\x\\prog.exe"},
                        {"D:\\docs\\a b.txt", "C:\\n.exe"},
                        {"app.exe", std::string("C:\\Program\0Files\\app.exe\0\0\0", 27)}};
  CommandLineParts p;
  p.program_token = "stale";
  ParseCommandLine(p, line, associations, drive);
  const char* kind = p.kind == CommandKind::kProgram    ? "P"
                     : p.kind == CommandKind::kDocument ? "D"
                                                        : "-";
  return kind + ("|" + p.associated_program) + "|" + p.program_token + "|" + p.program_name + "|" +
         p.parameters + "|" + p.switch_tail + "|" + p.switch_argument + "|" +
         std::to_string(associations.lookups.size());
}

TEST(ParseCommandLine, Table) {
  const std::pair<std::string, std::string> cases[] = {
      {"   ", "-|||||||0"},
      {"/X5J 2000", "-||||| /X5J 2000||0"},
      {"prog.exe a b", "P|C:\\BIN\\P.EXE|prog.exe|prog.exe| a b|||1"},  // an upper-case path
      {"report.txt", "D|C:\\n.exe|report.txt|report.txt||||1"},
      {"\"C:\\My Files\\a.doc\" x",
       "D|C:\\w.exe|\"C:\\My Files\\a.doc\"|C:\\My Files\\a.doc| x|||1"},
      // No extension or a dot only in a folder: the program itself.
      {"tool", "P|C:\\bin\\tool.exe|tool|tool||||1"},
      {"C:\\v1.2\\prog", "P|C:\\v1.2\\prog.exe|C:\\v1.2\\prog|C:\\v1.2\\prog||||1"},
      // Short extensions and extensions that end the program's name are still documents.
      {"file.c", "D|C:\\ed\\edit.exe|file.c|file.c||||1"},
      {"a.xe", "D|C:\\x\\prog.exe|a.xe|a.xe||||1"},
      // The lookup may pad with NULs and cut at a blank with one.
      {"app.exe", "P|C:\\Program Files\\app.exe|app.exe|app.exe||||1"},
      // Retry on the runner's drive.
      {"\"\\docs\\a b.txt\" p", "D|C:\\n.exe|\"D:\\docs\\a b.txt\"|D:\\docs\\a b.txt| p|||2"},
      {"\\a.txt x", "-||\\a.txt|\\a.txt| x|||2"},
      {"\\docs\\a.x5", "-||\\docs\\a.x5|\\docs\\a.x5||||1"},
      {"\\docs\\readme", "-||\\docs\\readme|\\docs\\readme||||1"},
      {"\\\\server\\share\\a.txt", "-||\\\\server\\share\\a.txt|\\\\server\\share\\a.txt||||1"},
      {"x.txt", "-||x.txt|x.txt||||1"},
      // Switch tails: the last "/X5" in any case; "+" or "-" after it is skipped.
      {"prog /X5+J 5 ", "-||prog|prog|| /X5+J 5 |J 5|1"},
      {"a /x5r b /X5L c", "-||a|a| /x5r b| /X5L c|L c|1"},
      {"a /X5", "-||a|a|| /X5||1"},
  };
  for (const auto& [line, parts] : cases)
    EXPECT_EQ(Parsed(line), parts) << line;
  // Without a runner drive there is no retry.
  EXPECT_EQ(Parsed("\\docs\\a.txt", '\0'), "-||\\docs\\a.txt|\\docs\\a.txt||||1");
}

}  // namespace
}  // namespace x5::commands
