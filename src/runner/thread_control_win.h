// Win32 side of the thread control: holds and priorities over every thread of every process in
// the step's job, or over its main thread when there is no job.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/os_level.h"
#include "core/result.h"
#include "runner/thread_hold.h"

namespace x5::runner {

// Room of the job's process list for the thread control.
inline constexpr size_t kThreadControlRoom = 1025;

// Suspends every thread of every process in the job through the ledger, so every hold can be
// undone with `holds.ResumeAllHeld()` and a resume (`holds.Resume()`) touches only threads the
// runner suspended. Fails as the ledger's hold does.
[[nodiscard]] core::Result<void> HoldJob(HANDLE job, HoldLedger& holds) noexcept;

// Without a job: holds the step's main thread through the ledger. The ledger keeps its own handle
// to the thread, so the caller may close its handle at any time.
[[nodiscard]] core::Result<void> HoldMainThread(HANDLE thread, HoldLedger& holds) noexcept;

// Sets the priority of every (process, thread) pair of the job from the code. Pairs that cannot
// be opened are passed over; fails when the job's threads cannot be listed or a pair's priority
// was not set (the system error code of the last).
[[nodiscard]] core::Result<void> SetJobPriority(HANDLE job,
                                                int32_t code,
                                                core::OsLevel os_level) noexcept;

// The highest code any (process, thread) pair of the job reads back as, and `start` when none is
// higher; fails when the job's threads cannot be listed.
[[nodiscard]] core::Result<int32_t> ReadJobPriority(HANDLE job, int32_t start) noexcept;

}  // namespace x5::runner
