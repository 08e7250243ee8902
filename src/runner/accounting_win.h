// Win32 side of the step accounting: the job object's accounting and memory peaks, a process's
// memory counters and times.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/interfaces.h"
#include "core/result.h"
#include "runner/accounting.h"

namespace x5::runner {

struct JobAccounting {
  // Fields of failed queries stay 0. Said nowhere: the job log is the step's, and a notice in it
  // would be found by rules that search the step's output for failures.
  JobFigures figures;
};

// Basic and I/O accounting (falling back to basic alone) and the extended limit information's
// memory peaks.
[[nodiscard]] JobAccounting QueryJobAccounting(HANDLE job) noexcept;

// The process's current and peak memory; fails with the system's error code when its counters
// cannot be read.
[[nodiscard]] core::Result<ProcessMemoryKb> QueryProcessMemory(HANDLE process) noexcept;

struct ProcessTimes {
  core::LocalTime creation;  // local time
  core::LocalTime exit;      // local time; all fields 0 while the process runs
  int64_t kernel_time = 0;   // 100 ns units
  int64_t user_time = 0;
};

// Fails with the system's error code when the times cannot be read.
[[nodiscard]] core::Result<ProcessTimes> QueryProcessTimes(HANDLE process) noexcept;

}  // namespace x5::runner
