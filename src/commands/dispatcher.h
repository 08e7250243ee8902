// The internal command dispatcher: turns a step's command text into the one command line that
// runs, carrying out the "/X5" switches of its lines on the way.
#pragma once

#include <string>
#include <string_view>

#include "commands/command_context.h"

namespace x5 {

// Lines are cut at CR LF; each line's contribution (DispatchLine) is joined to the others with
// "&". A pending edit is saved after the last line. In the show modes nothing is carried out.
// Returns the empty text when the command line cannot be built.
[[nodiscard]] std::string DispatchCommand(CommandContext& context,
                                          std::string_view text,
                                          DispatchMode mode) noexcept;

// One line: expanded (passwords deciphered), split, its switch carried out (execute mode only);
// returns what it adds to the command line, possibly nothing.
[[nodiscard]] std::string DispatchLine(CommandContext& context,
                                       std::string_view line,
                                       DispatchMode mode);

// Saves a pending edit and writes the save message to the console. A save that fails counts as
// a failed internal command.
void FlushEdit(CommandContext& context) noexcept;

}  // namespace x5
