// Win32 side of the step priority: sets a process/thread pair from a priority code and reads the
// code it reads back as.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/os_level.h"
#include "core/result.h"
#include "runner/priority.h"

namespace x5::runner {

// Sets the process's priority class and then the thread's priority from the code. Fails with the
// system error code of the first call that failed (both calls are always made).
core::Result<void> SetStepPriority(HANDLE process,
                                   HANDLE thread,
                                   int32_t code,
                                   core::OsLevel os_level) noexcept;

// What the pair reads back as (PriorityCodeOf gives its code).
[[nodiscard]] PriorityReadBack ReadStepPriority(HANDLE process, HANDLE thread) noexcept;

}  // namespace x5::runner
