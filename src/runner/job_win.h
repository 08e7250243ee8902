// Win32 side of the step accounting, the step priority and the thread control over the job
// object: job and process queries, priority set/read, hold/resume through the hold ledger.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "runner/accounting.h"
#include "core/interfaces.h"
#include "core/result.h"
#include "runner/thread_hold.h"

namespace x5::runner {

struct JobAccounting {
  JobFigures figures;  // fields of failed queries stay 0
  QueryFailures failures;
};

// Basic and I/O accounting (falling back to basic alone) and the extended limit information's
// memory peaks.
[[nodiscard]] JobAccounting QueryJobAccounting(HANDLE job) noexcept;

struct ProcessMemory {
  ProcessMemoryKb memory;  // 0 and 0 when the counters cannot be read
  QueryFailures failures;
};

[[nodiscard]] ProcessMemory QueryProcessMemory(HANDLE process) noexcept;

struct ProcessTimes {
  bool ok = false;
  core::LocalTime creation;  // local time
  core::LocalTime exit;      // local time; all fields 0 while the process runs
  int64_t kernel_time = 0;   // 100 ns units
  int64_t user_time = 0;
  QueryFailures failures;
};

[[nodiscard]] ProcessTimes QueryProcessTimes(HANDLE process) noexcept;

// Every process id in the job: asks with room for one, then with room for as many as the job says
// it has (and again if processes joined meanwhile).
core::Result<std::vector<uint32_t>> ReadJobProcessIds(HANDLE job) noexcept;

}  // namespace x5::runner

namespace x5::runner {

// Sets the process's priority class and then the thread's priority from the code. Fails with the
// system error code of the first call that failed (both calls are always made).
core::Result<void> SetStepPriority(HANDLE process,
                                   HANDLE thread,
                                   int32_t code,
                                   int32_t os_version) noexcept;

// The priority code the pair reads back as (error * 1000 + units when the class cannot be read).
[[nodiscard]] int32_t ReadStepPriority(HANDLE process, HANDLE thread) noexcept;

}  // namespace x5::runner

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
