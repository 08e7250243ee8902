// The SET switch "/X5S": runner variables and global parameters set from the command text.
#include "commands/set_command.h"

#include <algorithm>

#include "commands/command_text.h"
#include "core/fault.h"

namespace x5 {

SetSwitch ParseSetSwitch(std::string_view text) {
  SetSwitch parsed;
  const size_t length = text.size();
  if (length >= 5) {
    parsed.delimiter = text[4];
  }
  const bool single = parsed.delimiter == ' ';
  // Positions count from 1 here: `end` is the position of an assignment's last character, which
  // is also the index one past it.
  size_t start = 6;
  size_t end = 6;
  while (end < length && parsed.assignments.size() < kMaxSetAssignments) {
    if (single) {
      end = length + 1;
    } else {
      const size_t delimiter = text.find(parsed.delimiter, start - 1);
      end = delimiter == std::string_view::npos ? length : delimiter;
    }
    const size_t equals = text.find('=', start - 1);
    // An "=" behind this assignment's end belongs to a later one: this one has none.
    const bool has_equals = equals != std::string_view::npos && equals + 1 <= end;
    const std::string_view name =
        has_equals ? command_text::Trim(text.substr(start - 1, equals - (start - 1)))
                   : std::string_view{};
    if (name.empty()) {
      parsed.invalid = true;
      if (start - 1 < length) {
        parsed.invalid_text.assign(text.substr(start - 1));
      }
      break;
    }
    const size_t value_end = std::min(end, length);
    parsed.assignments.push_back(
        {std::string(name), std::string(text.substr(equals + 1, value_end - (equals + 1)))});
    start = end + 2;
  }
  return parsed;
}

int32_t SetCommand(CommandContext& context,
                   std::string_view text,
                   std::string_view shown_text) noexcept {
  int32_t result = -1;
  try {
    const SetSwitch parsed = ParseSetSwitch(text);
    const SetSwitch shown = shown_text == text ? parsed : ParseSetSwitch(shown_text);
    // A password can change how a text cuts up; then its values are not shown at all.
    const bool aligned =
        shown.assignments.size() == parsed.assignments.size() && shown.invalid == parsed.invalid;
    if (parsed.delimiter != ' ') {
      context.console.Line(std::string("/X5S Delimiter Char=") + parsed.delimiter);
    }
    for (size_t i = 0; i < parsed.assignments.size(); ++i) {
      const SetAssignment& assignment = parsed.assignments[i];
      std::string message = "/X5S SET ";
      if (aligned) {
        message += shown.assignments[i].name + "=" + shown.assignments[i].value;
      } else {
        message += assignment.name + "=*****";
      }
      context.console.Line(message);
      context.last_result = context.variables.AddVariable(assignment.name, assignment.value);
      result = 1;
    }
    if (parsed.invalid) {
      context.console.Line("\r\n/X5S - Invalid Set parameter" +
                           (aligned ? shown.invalid_text : std::string()) + "\r\n");
      result = 0;
    }
  } catch (...) {
    ReportFault(context.console, "/X5S", UnexpectedFault("SetCommand"));
    result = 0;
  }
  if (result != 1) {
    FailedCommand(context);
  }
  return result;
}

}  // namespace x5
