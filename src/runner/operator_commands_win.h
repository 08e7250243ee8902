// Operator commands during the step: status, hold, resume, kill, priority, console dump.
#pragma once

#include "protocol/protocol.h"

namespace x5::runner {

struct Run;

enum class CommandOutcome { kStayInMonitor, kLeaveMonitor };

// Carries out the command, sends its report and appends its message. It takes the whole run:
// the commands between them reach the step's process, the outcome, the pipes and console, and
// what the switches set (the picture settings a KILL uses and ends).
CommandOutcome CarryOutOperatorCommand(Run& run, const protocol::OperatorCommand& command);

}  // namespace x5::runner
