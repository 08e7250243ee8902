// Win32 side of the thread control: holds, resumes and priorities over every thread of every
// process in the step's job, or over its main thread when there is no job.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "runner/thread_hold.h"

namespace x5::runner {

// Room of the job's process list for the thread control.
inline constexpr size_t kThreadControlRoom = 1025;

enum class ThreadAction { kNone, kHold, kResume, kSetPriority, kReadPriority };

struct ThreadControlRequest {
  ThreadAction action = ThreadAction::kNone;  // kNone after the request was carried out
  int32_t os_version = 0;
  // Input for kSetPriority; for kReadPriority the start value in, the highest code out.
  int32_t priority_code = 0;
};

// Applies the request to every thread of every process in the job. Holds and resumes go through the
// ledger, so every hold can be undone with `holds.ResumeAllHeld()` and a resume touches only
// threads the runner suspended. The last error of the outcome is also left as the thread's last
// error.
[[nodiscard]] ThreadControlOutcome ThreadControl(HANDLE job,
                                                 ThreadControlRequest& request,
                                                 HoldLedger& holds) noexcept;

// Without a job: holds the step's main thread through the ledger (resume with `holds.Resume()`).
// The ledger keeps its own handle to the thread, so the caller may close its handle at any time.
[[nodiscard]] ThreadControlOutcome HoldMainThread(HANDLE thread, HoldLedger& holds) noexcept;

}  // namespace x5::runner
