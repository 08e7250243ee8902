// The internal command dispatcher: turns a step's command text into the one command line that
// runs, carrying out the "/X5" switches of its lines on the way.
#pragma once

#include <string>
#include <string_view>

#include "core/secret_string.h"
#include "commands/command_context.h"

namespace x5::commands {

// What the dispatcher leaves: the command line to run, with passwords deciphered (execute mode
// only), and the same line as it may be shown, with passwords masked. Both come from one expansion
// of each line as written.
struct DispatchedCommand {
  core::SecretString command_line;
  std::string shown;
  // A line a password would cut otherwise than its shown form (execute mode), as shown: nothing
  // of the command runs then, and it counts as failed.
  std::string refused_line;
};

// Lines are cut at CR LF; each line's contribution (DispatchLine) is joined to the others with
// "&". A pending edit is saved after the last line. In the show modes nothing is carried out and
// only the shown line is built. Both lines are empty when the command line cannot be built.
[[nodiscard]] DispatchedCommand DispatchCommand(CommandContext& context,
                                                std::string_view text,
                                                DispatchMode mode) noexcept;

// One line: expanded, split, its switch carried out (execute mode only); returns what it adds to
// the command line, possibly nothing.
[[nodiscard]] DispatchedCommand DispatchLine(CommandContext& context,
                                             std::string_view line,
                                             DispatchMode mode);

// Whether "/X5" and this letter (either case) is a switch the dispatcher carries out; any other
// letter is dropped with its line's switch tail, without a word. `KnownSwitches` lists them.
[[nodiscard]] bool IsKnownSwitch(char letter) noexcept;
[[nodiscard]] std::string KnownSwitches();

// Saves a pending edit and writes the save message to the console. A save that fails counts as
// a failed internal command.
void FlushEdit(CommandContext& context) noexcept;

}  // namespace x5::commands
