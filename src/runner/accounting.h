// Step accounting arithmetic (job and process figures) and the exact text of the job log lines.
#pragma once

#include <array>
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

// The accounting queries whose failure the console names (once per run each).
enum class AccountingQuery : uint8_t {
  kJobBasicAndIo,     // I/O counters stay 0 (basic accounting may still have answered)
  kJobBasic,          // times, process count and I/O stay 0
  kJobExtendedLimit,  // peak memory figures stay 0
  kProcessMemory,
  kProcessTimes,
};
inline constexpr size_t kAccountingQueryCount = 5;

// The system error code of every query that failed in one measurement; 0 = answered or not asked.
struct QueryFailures {
  std::array<uint32_t, kAccountingQueryCount> error{};
  bool any = false;

  void Set(AccountingQuery query, uint32_t code) noexcept;
  uint32_t Get(AccountingQuery query) const noexcept;
};

// The console line that names a failed query.
std::string QueryFailureLine(AccountingQuery query, uint32_t error);

// Remembers which failures the console has already named, so each is said once per run.
class AccountingNotices {
 public:
  // The lines not said before, each without a line end; marks them said.
  [[nodiscard]] std::string Take(const QueryFailures& failures);

 private:
  uint32_t said_ = 0;
};

}  // namespace x5::runner

namespace x5::runner {

// Calendar fields of a FILETIME value (100 ns units since 1601-01-01); negative counts as 0.
core::LocalTime CalendarFromFileTime(int64_t file_time) noexcept;

// Replaces the first zero of every "00" that follows a non-digit by a blank, left to right, each
// replacement visible to the next position: "000h" -> "  0h", "007ms" -> " 07ms", "05s" stays.
std::string ZeroPairBlanking(std::string text);

// "Kernel " / "User   " duration line: hours within a day, minutes, seconds, milliseconds,
// zero pairs blanked. A negative duration counts as 0.
std::string DurationLine(int64_t duration_100ns, std::string_view label);
inline constexpr std::string_view kKernelLabel = "Kernel ";
inline constexpr std::string_view kUserLabel = "User   ";

// "dd/mm/yyyy hh:mm:ss".
std::string DateTimeText(const core::LocalTime& time);
// "Started dd/mm/yyyy hh:mm:ss" and "Ended   dd/mm/yyyy hh:mm:ss".
std::string StartedLine(const core::LocalTime& creation);
std::string EndedLine(const core::LocalTime& exit);
// "Exit    <code>": the exit code of the step's main process, which no other line shows (the RC
// line holds the wait result); large codes also in hexadecimal, as system status codes are known.
std::string ExitCodeLine(uint32_t exit_code);

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

// "IO      <io> | PeakMemory <kb> | Processes <n>".
std::string IoLine(uint64_t measured_io, int32_t peak_memory_kb, int32_t process_count);

// Used when the task gives no console size (negative columns).
inline constexpr int32_t kDefaultSeparatorWidth = 80;
// No console buffer is wider than this; larger column counts are cut to it.
inline constexpr int32_t kMaxSeparatorWidth = 32767;
// As many "_" as the console has columns; 0 columns give the empty line, negative columns
// (no console size given) the default width.
std::string SeparatorLine(int32_t console_columns);

// The console title, followed by "  JOB# <handle>" when there is a job object (handle above 0).
std::string IdentificationLine(std::string_view console_title, int64_t job_handle);

// "Command=<text>" and "WorkDir=<text>": the caller passes the text already expanded/resolved.
std::string CommandLogLine(std::string_view command);
std::string WorkDirLogLine(std::string_view working_directory);

// "RC#<pid>=<status text, 8 characters>/<status code>".
std::string RcLine(uint32_t process_id, std::string_view status_text, int32_t status_code);

// The status text of a report during the step: the report code left-aligned in 8 characters.
std::string ReportStatusText(int32_t report_code);

}  // namespace x5::runner
