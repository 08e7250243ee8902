// The main sequence: the whole life of one runner, from the task record to "END " and cleanup.
#pragma once

namespace x5::runner {

// Runs one step for the parent on the standard handles; the process's exit code.
int RunMainSequence();

}  // namespace x5::runner
