// The operator commands a parent sends, by name: one table that every reader of commands uses (the
// operator commands during the step, the pacer of the file checks, the final reports).
#pragma once

#include <array>
#include <string_view>

namespace x5::protocol {

enum class OperatorCommandKind {
  kStatus,       // "STAT"
  kEnd,          // "END ": the conversation ends
  kHold,         // "STOP": the step is held
  kResume,       // "STRT": a held step goes on
  kKill,         // "KILL"
  kSetPriority,  // "PRTY"
  kGetPriority,  // "GPRT"
  kDiagnostics,  // "DIAG": the console and the runner's state saved for diagnosis
  kUnknown,      // answered with a report, nothing done
};

struct OperatorCommandName {
  std::string_view name;  // 4 characters, as on the pipe
  OperatorCommandKind kind;
};

inline constexpr std::array<OperatorCommandName, 8> kOperatorCommandNames{{
    {"STAT", OperatorCommandKind::kStatus},
    {"END ", OperatorCommandKind::kEnd},
    {"STOP", OperatorCommandKind::kHold},
    {"STRT", OperatorCommandKind::kResume},
    {"KILL", OperatorCommandKind::kKill},
    {"PRTY", OperatorCommandKind::kSetPriority},
    {"GPRT", OperatorCommandKind::kGetPriority},
    {"DIAG", OperatorCommandKind::kDiagnostics},
}};

// The command a name stands for; kUnknown for any other name.
[[nodiscard]] constexpr OperatorCommandKind KindOf(std::string_view name) {
  for (const OperatorCommandName& entry : kOperatorCommandNames)
    if (entry.name == name)
      return entry.kind;
  return OperatorCommandKind::kUnknown;
}

// The name a command is sent with; "" for kUnknown.
[[nodiscard]] constexpr std::string_view NameOf(OperatorCommandKind kind) {
  for (const OperatorCommandName& entry : kOperatorCommandNames)
    if (entry.kind == kind)
      return entry.name;
  return {};
}

}  // namespace x5::protocol
