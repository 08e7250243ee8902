// What the internal commands work with, and what every failing one does.
#include "commands/command_context.h"

#include "core/fault.h"

namespace x5::commands {

void FailedCommand(CommandContext& context) noexcept {
  core::RaiseStepRcAfterFailedCommand(context.rc);
  try {
    context.console_file.Save();
  } catch (...) {
    core::UnexpectedFault("FailedCommand");
    // The copy is a courtesy to the operator; the raised RC already tells the parent.
  }
}

}  // namespace x5::commands
