// Starts the step's command in its own job object, with the runner console as its standard handles.
#pragma once

#include <cstdint>

namespace x5 {

struct Run;

// 1 when the step process runs; otherwise run.step holds the failure's status text and code, and
// the result is 0 or, after a refused logon, the logon's platform error code.
int32_t LaunchStep(Run& run);

// Releases the user's profile and registry hive when the launch logged a user on.
void UnloadStepProfile(Run& run);

}  // namespace x5
