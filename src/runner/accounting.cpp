// Step accounting figures: the job's and a process's answers as the report's fields, the step's
// main process times, and the failures of the queries.
#include "runner/accounting.h"

#include <algorithm>
#include <limits>

#include "protocol/protocol.h"

namespace x5::runner {
namespace {

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr uint64_t kUint64Max = std::numeric_limits<uint64_t>::max();

int32_t ClampToInt32(uint64_t value) noexcept {
  return value > uint64_t{kInt32Max} ? kInt32Max : static_cast<int32_t>(value);
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) noexcept {
  return a > kUint64Max - b ? kUint64Max : a + b;
}

int64_t NonNegative(int64_t value) noexcept {
  return value < 0 ? 0 : value;
}

// A LocalTime that holds no time at all (a query's zeros); every real one is after 1601.
bool NoTime(const core::LocalTime& time) noexcept {
  return time.year == 0;
}

}  // namespace

int32_t KilobytesRounded(uint64_t bytes) noexcept {
  uint64_t kb = bytes >> 10;
  uint64_t rest = bytes & 1023;
  if (rest > 512 || (rest == 512 && (kb & 1) != 0))
    ++kb;
  return ClampToInt32(kb);
}

JobFigures JobFiguresFrom(const JobRaw& raw) noexcept {
  JobFigures figures;
  if (raw.basic) {
    figures.process_count = ClampToInt32(raw.basic->total_processes);
    figures.kernel_time = NonNegative(raw.basic->total_kernel_time);
    figures.user_time = NonNegative(raw.basic->total_user_time);
  }
  if (raw.basic && raw.io) {
    figures.measured_io = SaturatingAdd(
        SaturatingAdd(raw.io->read_operations, raw.io->write_operations), raw.io->other_operations);
  }
  if (raw.extended) {
    figures.peak_memory_kb = KilobytesRounded(raw.extended->peak_process_memory);
    figures.memory_kb = KilobytesRounded(raw.extended->peak_job_memory);
  }
  return figures;
}

ProcessMemoryKb ProcessMemoryFrom(const ProcessMemoryRaw& raw) noexcept {
  auto sum = [](uint64_t a, uint64_t b) {
    int64_t total = int64_t{KilobytesRounded(a)} + int64_t{KilobytesRounded(b)};
    return static_cast<int32_t>(std::min<int64_t>(total, kInt32Max));
  };
  return {sum(raw.working_set, raw.pagefile_usage),
          sum(raw.peak_working_set, raw.peak_pagefile_usage)};
}

int64_t IoCountField(uint64_t measured_io, int32_t kilobytes_read) noexcept {
  uint64_t count = SaturatingAdd(measured_io, kilobytes_read < 0 ? 0 : uint64_t(kilobytes_read));
  constexpr uint64_t kLimit = uint64_t{kInt64Max} / 10000;
  return count > kLimit ? kInt64Max : static_cast<int64_t>(count * 10000);
}

void StepTimes::Read(const core::LocalTime& creation, const core::LocalTime& exit) noexcept {
  if (!NoTime(creation))
    creation_ = creation;
  if (!NoTime(exit))
    exit_ = exit;
}

core::LocalTime StepTimes::Exit(const core::LocalTime& now) const noexcept {
  return NoTime(exit_) ? now : exit_;
}

std::string ReportStatusText(int32_t report_code) {
  return protocol::Padded(std::to_string(report_code), 8);
}

}  // namespace x5::runner
