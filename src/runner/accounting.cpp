// Step accounting arithmetic (job and process figures) and the exact text of the job log lines.
#include "runner/accounting.h"

#include <algorithm>
#include <cstdio>
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

constexpr size_t Index(AccountingQuery query) noexcept {
  return static_cast<size_t>(query);
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

void QueryFailures::Set(AccountingQuery query, uint32_t code) noexcept {
  // A failure whose code the system did not give still counts as a failure.
  error[Index(query)] = code == 0 ? 0xFFFFFFFFu : code;
  any = true;
}

uint32_t QueryFailures::Get(AccountingQuery query) const noexcept {
  return error[Index(query)];
}

std::string QueryFailureLine(AccountingQuery query, uint32_t error) {
  std::string_view what;
  std::string_view figures;
  switch (query) {
    case AccountingQuery::kJobBasicAndIo:
      what = "job I/O accounting";
      figures = "IO";
      break;
    case AccountingQuery::kJobBasic:
      what = "job accounting";
      figures = "Kernel, User, IO and Processes";
      break;
    case AccountingQuery::kJobExtendedLimit:
      what = "job memory accounting";
      figures = "PeakMemory";
      break;
    case AccountingQuery::kProcessMemory:
      what = "process memory";
      figures = "PeakMemory";
      break;
    case AccountingQuery::kProcessTimes:
      what = "process times";
      figures = "Kernel, User, Started and Ended";
      break;
  }
  std::string line = "Accounting: ";
  line += what;
  line += " not available (error ";
  line += std::to_string(error);
  line += "), ";
  line += figures;
  line += " shown as 0";
  return line;
}

std::string AccountingNotices::Take(const QueryFailures& failures) {
  std::string lines;
  if (!failures.any)
    return lines;
  for (size_t i = 0; i < kAccountingQueryCount; ++i) {
    uint32_t bit = 1u << i;
    if (failures.error[i] == 0 || (said_ & bit) != 0)
      continue;
    if (!lines.empty())
      lines += "\r\n";
    lines += QueryFailureLine(static_cast<AccountingQuery>(i), failures.error[i]);
    said_ |= bit;
  }
  return lines;
}

}  // namespace x5::runner

namespace x5::runner {
namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerSecond = 1000 * kTicksPerMillisecond;
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134'774;

// Proleptic Gregorian calendar conversion around 1970-01-01 (day 0).
void CivilFromDays(int64_t z, int& year, int& month, int& day) noexcept {
  z += 719'468;
  const int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const int64_t doe = z - era * 146'097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

// A LocalTime that holds no time at all (a query's zeros); every real one is after 1601.
bool NoTime(const core::LocalTime& time) noexcept {
  return time.year == 0;
}

}  // namespace

core::LocalTime CalendarFromFileTime(int64_t file_time) noexcept {
  if (file_time < 0)
    file_time = 0;
  const int64_t days = file_time / kTicksPerDay;
  int64_t rest = file_time % kTicksPerDay;
  core::LocalTime t;
  CivilFromDays(days - kDaysFrom1601To1970, t.year, t.month, t.day);
  t.day_of_week = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
  t.hour = static_cast<int>(rest / (3600 * kTicksPerSecond));
  rest %= 3600 * kTicksPerSecond;
  t.minute = static_cast<int>(rest / (60 * kTicksPerSecond));
  rest %= 60 * kTicksPerSecond;
  t.second = static_cast<int>(rest / kTicksPerSecond);
  rest %= kTicksPerSecond;
  t.millisecond = static_cast<int>(rest / kTicksPerMillisecond);
  return t;
}

std::string ZeroPairBlanking(std::string text) {
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '0' && text[i + 1] == '0' && !is_digit(text[i - 1]))
      text[i] = ' ';
  }
  return text;
}

std::string DurationLine(int64_t duration_100ns, std::string_view label) {
  core::LocalTime t = CalendarFromFileTime(duration_100ns);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%03dh %02dm %02ds %03dms", t.hour, t.minute, t.second,
                t.millisecond);
  std::string line(label);
  line += buffer;
  return ZeroPairBlanking(std::move(line));
}

std::string DateTimeText(const core::LocalTime& time) {
  std::string text = TwoDigits(time.day);
  text += '/';
  text += TwoDigits(time.month);
  text += '/';
  text += std::to_string(time.year);
  text += ' ';
  text += TwoDigits(time.hour);
  text += ':';
  text += TwoDigits(time.minute);
  text += ':';
  text += TwoDigits(time.second);
  return text;
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

std::string StartedLine(const core::LocalTime& creation) {
  return "Started " + DateTimeText(creation);
}

std::string EndedLine(const core::LocalTime& exit) {
  return "Ended   " + DateTimeText(exit);
}

std::string ExitCodeLine(uint32_t exit_code) {
  std::string line = "Exit    " + std::to_string(exit_code);
  // Status codes (0xC0000005 and the like) are known by their hexadecimal form.
  if (exit_code > 0xFFFF) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%08X)", exit_code);
    line += hex;
  }
  return line;
}

std::string IoLine(uint64_t measured_io, int32_t peak_memory_kb, int32_t process_count) {
  std::string line = "IO      ";
  line += std::to_string(measured_io);
  line += " | PeakMemory ";
  line += std::to_string(peak_memory_kb);
  line += " | Processes ";
  line += std::to_string(process_count);
  return line;
}

std::string SeparatorLine(int32_t console_columns) {
  int32_t width =
      console_columns < 0 ? kDefaultSeparatorWidth : std::min(console_columns, kMaxSeparatorWidth);
  return std::string(static_cast<size_t>(width), '_');
}

std::string IdentificationLine(std::string_view console_title, int64_t job_handle) {
  std::string line(console_title);
  if (job_handle > 0) {
    line += "  JOB# ";
    line += std::to_string(job_handle);
  }
  return line;
}

std::string CommandLogLine(std::string_view command) {
  std::string line = "Command=";
  line += command;
  return line;
}

std::string WorkDirLogLine(std::string_view working_directory) {
  std::string line = "WorkDir=";
  line += working_directory;
  return line;
}

std::string RcLine(uint32_t process_id, std::string_view status_text, int32_t status_code) {
  std::string line = "RC#";
  line += std::to_string(process_id);
  line += '=';
  line += protocol::Padded(status_text, 8);
  line += '/';
  line += std::to_string(status_code);
  return line;
}

std::string ReportStatusText(int32_t report_code) {
  return protocol::Padded(std::to_string(report_code), 8);
}

}  // namespace x5::runner
