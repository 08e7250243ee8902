// Step accounting figures: the job's and a process's answers as the report's fields, the step's
// main process times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/interfaces.h"

namespace x5::runner {

// A 64-bit counter that arrives as two 32-bit halves, each taken as unsigned.
constexpr uint64_t Unsigned64(uint32_t high, uint32_t low) noexcept {
  return (uint64_t{high} << 32) | uint64_t{low};
}

// Bytes to KB, rounded to the nearest integer with halves to the even neighbour; figures beyond
// the 32-bit report field stay at its largest value instead of wrapping.
int32_t KilobytesRounded(uint64_t bytes) noexcept;

// What the job object answered; an empty optional is a query that failed.
struct JobBasicRaw {
  uint64_t total_processes = 0;
  int64_t total_kernel_time = 0;  // 100 ns units
  int64_t total_user_time = 0;
};

struct JobIoRaw {
  uint64_t read_operations = 0;
  uint64_t write_operations = 0;
  uint64_t other_operations = 0;
};

struct JobExtendedRaw {
  uint64_t peak_process_memory = 0;  // bytes, the largest of any one process
  uint64_t peak_job_memory = 0;      // bytes, the whole job
};

struct JobRaw {
  std::optional<JobBasicRaw> basic;
  std::optional<JobIoRaw> io;  // present only when the combined basic and I/O query answered
  std::optional<JobExtendedRaw> extended;
};

// The figures a report carries. Every field is clamped to its report field: never negative,
// never wrapped.
struct JobFigures {
  int32_t process_count = 0;
  int64_t kernel_time = 0;  // 100 ns units
  int64_t user_time = 0;
  uint64_t measured_io = 0;  // plain count of I/O operations
  int32_t peak_memory_kb = 0;
  int32_t memory_kb = 0;
};

// Job accounting figures from the answers: a failed query leaves its fields at 0.
[[nodiscard]] JobFigures JobFiguresFrom(const JobRaw& raw) noexcept;

struct ProcessMemoryRaw {
  uint64_t working_set = 0;
  uint64_t pagefile_usage = 0;
  uint64_t peak_working_set = 0;
  uint64_t peak_pagefile_usage = 0;
};

struct ProcessMemoryKb {
  int32_t current_kb = 0;
  int32_t peak_kb = 0;
};

// Each part is rounded to KB before the sum (working set + page-file usage).
[[nodiscard]] ProcessMemoryKb ProcessMemoryFrom(const ProcessMemoryRaw& raw) noexcept;

// The I/O count field of the step report: (measured I/O + kilobytes read) * 10000, held at the
// largest 64-bit value instead of wrapping; a negative kilobytes figure counts as 0.
int64_t IoCountField(uint64_t measured_io, int32_t kilobytes_read) noexcept;

// The step's main process times for the "Started " and "Ended   " lines. Each time the system
// gives replaces the one kept; a query that fails (or gives no time) keeps it, so the job log shows
// the last times read rather than zeros.
class StepTimes {
 public:
  // At the launch: the moment the step was started stands in until the system's own time is read.
  void Launched(const core::LocalTime& now) noexcept { creation_ = now; }
  // A query that answered; the exit time is all zeros while the process runs.
  void Read(const core::LocalTime& creation, const core::LocalTime& exit) noexcept;
  const core::LocalTime& Creation() const noexcept { return creation_; }
  // The exit time read, or `now` when the process was only ever seen running: the job log is
  // written as soon as the runner has seen the step end.
  core::LocalTime Exit(const core::LocalTime& now) const noexcept;

 private:
  core::LocalTime creation_;
  core::LocalTime exit_;
};

// The status text of a report during the step: the report code left-aligned in 8 characters.
std::string ReportStatusText(int32_t report_code);

}  // namespace x5::runner
