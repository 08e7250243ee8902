// Win32 side of the step accounting: the job object's accounting and memory peaks, a process's
// memory counters and times.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/interfaces.h"
#include "runner/accounting.h"

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

}  // namespace x5::runner
