// Win32 side of the step accounting: the job object's accounting and memory peaks, a process's
// memory counters and times.
#include "runner/accounting_win.h"

#include <psapi.h>

#include <limits>

#include "core/calendar.h"
#include "win/system_time_win.h"

namespace x5::runner {
namespace {

int64_t FileTimeTicks(const FILETIME& ft) noexcept {
  uint64_t ticks = Unsigned64(ft.dwHighDateTime, ft.dwLowDateTime);
  return ticks > uint64_t{std::numeric_limits<int64_t>::max()} ? 0 : static_cast<int64_t>(ticks);
}

// A UTC file time as local time, with the daylight rule of that date; 0 stays all zeros.
core::LocalTime LocalFromUtc(const FILETIME& utc) noexcept {
  if (utc.dwHighDateTime == 0 && utc.dwLowDateTime == 0)
    return core::LocalTime{};
  SYSTEMTIME utc_st{};
  SYSTEMTIME local_st{};
  if (FileTimeToSystemTime(&utc, &utc_st) &&
      SystemTimeToTzSpecificLocalTime(nullptr, &utc_st, &local_st))
    return win::LocalTimeFromSystemTime(local_st);
  FILETIME local{};
  if (FileTimeToLocalFileTime(&utc, &local))
    return core::CalendarFromFileTime(FileTimeTicks(local));
  return core::CalendarFromFileTime(FileTimeTicks(utc));
}

}  // namespace

JobAccounting QueryJobAccounting(HANDLE job) noexcept {
  JobAccounting out;
  JobRaw raw;
  JOBOBJECT_BASIC_AND_IO_ACCOUNTING_INFORMATION both{};
  if (QueryInformationJobObject(job, JobObjectBasicAndIoAccountingInformation, &both, sizeof both,
                                nullptr)) {
    raw.basic = JobBasicRaw{both.BasicInfo.TotalProcesses, both.BasicInfo.TotalKernelTime.QuadPart,
                            both.BasicInfo.TotalUserTime.QuadPart};
    raw.io = JobIoRaw{both.IoInfo.ReadOperationCount, both.IoInfo.WriteOperationCount,
                      both.IoInfo.OtherOperationCount};
  } else {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION basic{};
    if (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &basic, sizeof basic,
                                  nullptr)) {
      raw.basic = JobBasicRaw{basic.TotalProcesses, basic.TotalKernelTime.QuadPart,
                              basic.TotalUserTime.QuadPart};
    }
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION extended{};
  if (QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &extended, sizeof extended,
                                nullptr)) {
    raw.extended = JobExtendedRaw{extended.PeakProcessMemoryUsed, extended.PeakJobMemoryUsed};
  }
  out.figures = JobFiguresFrom(raw);
  return out;
}

core::Result<ProcessMemoryKb> QueryProcessMemory(HANDLE process) noexcept {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  // The failures' texts fit a string's own storage: they never allocate.
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
    return core::Failure{"no counters", GetLastError()};
  return ProcessMemoryFrom({counters.WorkingSetSize, counters.PagefileUsage,
                            counters.PeakWorkingSetSize, counters.PeakPagefileUsage});
}

core::Result<ProcessTimes> QueryProcessTimes(HANDLE process) noexcept {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user))
    return core::Failure{"no times", GetLastError()};
  return ProcessTimes{LocalFromUtc(creation), LocalFromUtc(exit), FileTimeTicks(kernel),
                      FileTimeTicks(user)};
}

}  // namespace x5::runner
