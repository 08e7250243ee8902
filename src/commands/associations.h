// The shell's file associations: which program runs a document (Windows build only).
#pragma once

#include <memory>

#include "commands/command_split.h"

namespace x5::commands {

// FindExecutableA with a MAX_PATH result buffer. A found path comes back as the whole buffer:
// the lookup may cut a path at a blank with a NUL, which ParseCommandLine turns back into a blank.
[[nodiscard]] std::unique_ptr<Associations> MakeShellAssociations();

// The drive letter of the runner's own program file, or 0 when it has none (a UNC path).
[[nodiscard]] char RunnerDriveLetter() noexcept;

}  // namespace x5::commands
