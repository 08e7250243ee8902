// The SET switch "/X5S": runner variables and global parameters set from the command text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_context.h"
#include "core/result.h"

namespace x5::commands {

inline constexpr size_t kMaxSetAssignments = 1000;

// Views into the switch text they were cut from, so that cutting a text that holds a deciphered
// password makes no copy of it.
struct SetAssignment {
  std::string_view name;
  std::string_view value;
  size_t start = 0;  // index of the assignment's first character in the switch text
};

// The switch text "/X5S" + delimiter + NAME=VALUE assignments, cut up.
struct SetSwitch {
  char delimiter = ' ';  // a blank: one assignment takes the rest of the text
  std::vector<SetAssignment> assignments;
  bool invalid = false;           // stopped at an assignment without "=" or without a name
  std::string_view invalid_text;  // the text from that assignment on
};

// Cuts the switch text; at most kMaxSetAssignments assignments are taken.
[[nodiscard]] SetSwitch ParseSetSwitch(std::string_view text);

// Carries out the switch: `text` is the switch tail trimmed on the left ("/X5S ..."), expanded
// with the line and its passwords deciphered; `shown_text` the same expanded with passwords
// masked, for the console. A value that holds a deciphered password is stored as a password
// (enciphered, after the password marker). A password in a name, or one that changes how the text
// cuts up, makes the assignment invalid. Fails when an invalid assignment stopped the switch or
// there was none; the step RC value is raised and the console copied then.
core::Result<void> SetCommand(CommandContext& context,
                              std::string_view text,
                              std::string_view shown_text) noexcept;

}  // namespace x5::commands
