// The SET switch "/X5S": runner variables and global parameters set from the command text.
#include "commands/set_command.h"

#include <algorithm>
#include <string>

#include "cipher/password_cipher.h"
#include "core/ascii_text.h"
#include "core/fault.h"
#include "core/name_fold.h"

namespace x5::commands {
namespace {

// Where the assignments begin: after "/X5S" and the delimiter.
constexpr size_t kFirstAssignment = 5;

void InvalidAssignment(CommandContext& context, std::string_view shown_rest) {
  std::string message = "\r\n/X5S - Invalid Set parameter";
  message.append(shown_rest);
  message += "\r\n";
  context.console.Line(message);
}

}  // namespace

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
        has_equals ? core::Trim(text.substr(start - 1, equals - (start - 1))) : std::string_view{};
    if (name.empty()) {
      parsed.invalid = true;
      if (start - 1 < length) {
        parsed.invalid_text = text.substr(start - 1);
      }
      break;
    }
    const size_t value_end = std::min(end, length);
    parsed.assignments.push_back(
        {name, text.substr(equals + 1, value_end - (equals + 1)), start - 1});
    start = end + 2;
  }
  return parsed;
}

core::Result<void> SetCommand(CommandContext& context,
                              std::string_view text,
                              std::string_view shown_text) noexcept {
  enum class State { kNothingSet, kSet, kStopped };
  State state = State::kNothingSet;
  try {
    const SetSwitch parsed = ParseSetSwitch(text);
    const SetSwitch shown = ParseSetSwitch(shown_text);
    if (shown.delimiter != ' ') {
      context.console.Line(std::string("/X5S Delimiter Char=") + shown.delimiter);
    }
    // A password that stands for the delimiter or holds it or an "=" cuts the text otherwise than
    // the console shows it: nothing of such a switch is set.
    if (parsed.delimiter != shown.delimiter ||
        parsed.assignments.size() != shown.assignments.size() || parsed.invalid != shown.invalid) {
      InvalidAssignment(context, shown_text.substr(std::min(kFirstAssignment, shown_text.size())));
      state = State::kStopped;
    } else {
      for (size_t i = 0; i < parsed.assignments.size(); ++i) {
        const SetAssignment& assignment = parsed.assignments[i];
        const SetAssignment& seen = shown.assignments[i];
        // A variable is never named after a password (a global parameter's file would carry it).
        if (assignment.name != seen.name || !core::VariableNameProblem(seen.name).empty()) {
          InvalidAssignment(context, shown_text.substr(seen.start));
          state = State::kStopped;
          break;
        }
        context.console.Line("/X5S SET " + std::string(seen.name) + "=" + std::string(seen.value));
        // Where the value differs from its masked form, a password was deciphered into it: it
        // stays a password, enciphered in the table and in a global parameter's file. A global
        // parameter whose file cannot be written is defined all the same.
        const core::Added added =
            assignment.value == seen.value
                ? context.variables.AddVariable(assignment.name, assignment.value)
                : context.variables.AddPassword(assignment.name, assignment.value);
        if (added == core::Added::kNotEnciphered) {
          context.console.Line("\r\n/X5S - Password value cannot be enciphered (at most " +
                               std::to_string(cipher::kVariablePlainMax) +
                               " characters): " + std::string(seen.name) + "\r\n");
          state = State::kStopped;
          break;
        }
        state = State::kSet;
      }
      if (state != State::kStopped && parsed.invalid) {
        InvalidAssignment(context, shown.invalid_text);
        state = State::kStopped;
      }
    }
  } catch (...) {
    core::ReportFault(context.console, "/X5S", core::UnexpectedFault("SetCommand"));
    state = State::kStopped;
  }
  if (state == State::kSet)
    return {};
  FailedCommand(context);
  // The texts fit a string's own storage: the failure never allocates.
  return core::Failure{state == State::kStopped ? "invalid set" : "nothing to set", 0};
}

}  // namespace x5::commands
