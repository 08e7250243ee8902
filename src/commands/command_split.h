// Cutting one command line into program token, parameters and "/X5" switch tail, and finding the
// program that runs it through the system's file associations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace x5::commands {

// The program associated with a document, as the shell knows it.
class Associations {
 public:
  virtual ~Associations() = default;
  // The program path; nullopt when none is found (why does not change what the line runs).
  virtual std::optional<std::string> FindExecutable(std::string_view document,
                                                    std::string_view directory) const = 0;
};

// What the association lookup found for a line's program token.
enum class CommandKind : uint8_t {
  kDocument = 0,  // a document; `associated_program` runs it
  kProgram = 1,   // the program itself; `associated_program` is its full path
  kNotFound = 2,  // nothing found or nothing to look up; the line runs as written
};

// The longest command line the system starts a process with, in characters without the ending
// null; a longer one is refused rather than cut. The code such a refusal reports (the system's
// "filename or extension is too long").
inline constexpr size_t kLongestCommandLine = 32766;
inline constexpr int32_t kCommandTooLongCode = 206;

// The seven parts of one command line.
struct CommandLineParts {
  std::string associated_program;  // full path found by the lookup; empty for kNotFound
  std::string program_token;       // first token of the command part, quotes kept
  std::string program_name;        // the same without quotes
  std::string parameters;          // the rest after the token, with its leading blank
  std::string switch_tail;         // " " + the line from its last "/X5" on; empty without one
  std::string switch_argument;     // after "/X5" (and a "+" or "-" right after it), trimmed
  CommandKind kind = CommandKind::kNotFound;
};

// Returns the first token of `source` (trimmed first): a word ending at a blank, or a text in
// double quotes in which two double quotes stand for one. `rest` receives what follows (for a
// word, from its blank on). With `strip_quotes` the token comes back without its quotes.
std::string SplitToken(std::string_view source, std::string& rest, bool strip_quotes);

// Fills `parts` from `line`. The program name is looked up through `associations`; a lookup
// that fails for a path starting with a backslash is retried once on `runner_drive` (the drive
// letter of the runner's own folder, 0 when it has none). Nothing is opened or started.
void ParseCommandLine(CommandLineParts& parts,
                      std::string_view line,
                      const Associations& associations,
                      char runner_drive);

// Where ParseCommandLine cuts a line, as positions in it (npos where a cut is not made): the
// command's first byte, the last "/X5", the end of the command (blanks before the switch left
// out) and the end of its program token.
struct CommandCuts {
  size_t begin = std::string_view::npos;
  size_t switch_at = std::string_view::npos;
  size_t command_end = std::string_view::npos;
  size_t token_end = std::string_view::npos;
  bool operator==(const CommandCuts&) const = default;
};
[[nodiscard]] CommandCuts FindCommandCuts(std::string_view line);

// The switch tail alone (" " + the line from its last "/X5" on), without any lookup.
std::string SwitchTailOf(std::string_view line);

}  // namespace x5::commands
