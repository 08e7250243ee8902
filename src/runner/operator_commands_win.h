// Operator commands during the step: status, hold, resume, kill, priority, console dump.
#pragma once

namespace x5 {

struct Run;

enum class CommandOutcome { kStayInMonitor, kLeaveMonitor };

// Carries out the command in run.command, sends its report and appends its message.
CommandOutcome CarryOutOperatorCommand(Run& run);

// Sets the step's priority from the task's priority right after the launch.
void SetLaunchPriority(Run& run);

}  // namespace x5
