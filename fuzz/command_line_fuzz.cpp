// Fuzzes command splitting and the dispatcher: any command text, in every dispatch mode, against
// an association table and in-memory files. First byte: mode and runner drive; the rest: text.
#include "commands/command_split.h"
#include "commands/testing/commands_test_support.h"
#include "commands/dispatcher.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

namespace {

bool StartsWithSwitch(const std::string& tail) {
  return tail.size() >= 4 && tail[0] == ' ' && tail[1] == '/' &&
         (tail[2] == 'X' || tail[2] == 'x') && tail[3] == '5';
}

// Bytes a text rarely holds, so the password shows up only where it is deciphered.
constexpr std::string_view kPassword = "\xA7\xB3\xC9\xD4\xE2\xF1";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 14)
    return 0;
  const auto mode = static_cast<x5::commands::DispatchMode>(data[0] % 3);
  const char drive = (data[0] & 0x80) != 0 ? '\0' : 'D';
  const std::string text = x5::fuzz::Text(data, size, 1);

  x5::commands::testing::CommandWorld world;
  world.context.runner_drive = drive;
  world.associations.paths = {{"prog", "C:\\bin\\prog.exe"},
                              {"a.txt", "C:\\Windows\\notepad.exe"},
                              {"D:\\a.txt", "C:\\Windows\\notepad.exe"},
                              {"x y.doc", std::string("C:\\Program\0Files\\w.exe\0\0", 24)}};
  world.files.files = {{"f.txt", "foo FOO"}, {"g.txt", ""}};
  world.expander.values = {
      {"PW", "PW:" + std::string(kPassword)}, {"E", ""}, {"X5S", "C:\\J\\S\\"}};

  // Every line splits into consistent parts.
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    x5::commands::CommandLineParts parts;
    x5::commands::ParseCommandLine(parts, line, world.associations, drive);
    Check(parts.switch_tail.empty() || StartsWithSwitch(parts.switch_tail));
    Check(parts.switch_tail == x5::commands::SwitchTailOf(line));
    Check((parts.kind == x5::commands::CommandKind::kNotFound) == parts.associated_program.empty());
    Check(parts.program_token.empty() == parts.program_name.empty() ||
          parts.program_token == "\"\"" || parts.program_token == "\"");
    if (end == std::string::npos)
      break;
    start = end + 2;
  }

  const x5::commands::DispatchedCommand dispatched =
      x5::commands::DispatchCommand(world.context, text, mode);
  const std::string command = mode == x5::commands::DispatchMode::kExecute
                                  ? std::string(dispatched.command_line.View())
                                  : dispatched.shown;
  // The password reaches the command line only, never the shown line nor the console (unless the
  // text wrote its bytes itself).
  if (text.find_first_of(kPassword) == std::string::npos) {
    Check(dispatched.shown.find(kPassword) == std::string::npos);
    Check(world.console.All().find(kPassword) == std::string::npos);
  }
  // Only the execute mode carries out switches; nothing is ever left pending.
  if (mode != x5::commands::DispatchMode::kExecute) {
    Check(world.files.writes.empty());
    Check(world.variables.added.empty());
    Check(world.console.lines.empty());
  }
  Check(world.state.edit.file_name.empty());
  // Switch tails never reach the command line, unless the text wrote one itself, a variable
  // made one, or it sits inside a quoted program token left open (which runs to the line's end).
  Check(x5::commands::SwitchTailOf(command).empty() || text.find("/X5") != std::string::npos ||
        text.find("/x5") != std::string::npos || text.find('%') != std::string::npos ||
        command.find('"') != std::string::npos);
  return 0;
}
