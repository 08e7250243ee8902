// Operator commands during the step: status, hold, resume, kill, priority, console dump.
#pragma once

#include <cstdint>

#include "protocol/protocol.h"

namespace x5 {

struct Run;

enum class CommandOutcome { kStayInMonitor, kLeaveMonitor };

// Carries out the command, sends its report and appends its message.
CommandOutcome CarryOutOperatorCommand(Run& run, const OperatorCommand& command);

// Sets the step's priority from a priority code (the task's, right after the launch).
void SetLaunchPriority(Run& run, int32_t priority);

}  // namespace x5
