// Win32 side of the step accounting, the step priority and the thread control over the job
// object: job and process queries, priority set/read, hold/resume through the hold ledger.
#include "runner/job_win.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <utility>

#include "runner/priority.h"
#include "win/system_time_win.h"
#include "win/unique_handle.h"

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
    return CalendarFromFileTime(FileTimeTicks(local));
  return CalendarFromFileTime(FileTimeTicks(utc));
}

// The job's process ids, read with room for `room` ids. Returns 0 with the ids, or the system
// error code (ERROR_MORE_DATA with `assigned` set when the room was too small).
DWORD QueryJobIds(HANDLE job, size_t room, std::vector<uint32_t>& ids, DWORD& assigned) {
  constexpr size_t kHeader = offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList);
  constexpr size_t kWord = sizeof(ULONG_PTR);
  const size_t bytes = kHeader + std::max<size_t>(room, 1) * kWord;
  std::vector<ULONG_PTR> buffer((bytes + kWord - 1) / kWord, 0);
  auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
  assigned = 0;
  ids.clear();
  BOOL ok = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                      static_cast<DWORD>(bytes), nullptr);
  DWORD error = ok ? 0 : GetLastError();
  assigned = list->NumberOfAssignedProcesses;
  if (!ok)
    return error == 0 ? ERROR_GEN_FAILURE : error;
  const size_t count = std::min<size_t>(list->NumberOfProcessIdsInList, room);
  ids.reserve(count);
  for (size_t i = 0; i < count; ++i)
    ids.push_back(static_cast<uint32_t>(list->ProcessIdList[i]));
  return 0;
}

struct ThreadOfJob {
  uint32_t process_id = 0;
  uint32_t thread_id = 0;
};

struct JobThreads {
  JobList result = JobList::kListed;
  uint32_t error = 0;                 // of the process list or of the snapshot
  std::vector<uint32_t> process_ids;  // sorted
  std::vector<ThreadOfJob> threads;   // in snapshot order
};

// Every thread of every process in the job, from one process list (fixed room) and one snapshot
// of the system's threads. A failed snapshot gives a listed job and no threads.
JobThreads ListJobThreads(HANDLE job) {
  JobThreads out;
  DWORD assigned = 0;
  DWORD error = QueryJobIds(job, kThreadControlRoom, out.process_ids, assigned);
  if (error != 0) {
    out.result = error == ERROR_MORE_DATA ? JobList::kTooSmall : JobList::kFailed;
    out.error = error;
    return out;
  }
  std::sort(out.process_ids.begin(), out.process_ids.end());
  win::ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) {
    out.error = GetLastError();
    return out;
  }
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more;
       more = Thread32Next(snapshot.get(), &entry)) {
    if (std::binary_search(out.process_ids.begin(), out.process_ids.end(),
                           static_cast<uint32_t>(entry.th32OwnerProcessID)))
      out.threads.push_back({entry.th32OwnerProcessID, entry.th32ThreadID});
    entry.dwSize = sizeof entry;
  }
  return out;
}

class WinHeldThread final : public HeldThread {
 public:
  explicit WinHeldThread(win::ScopedHandle thread) noexcept : thread_(std::move(thread)) {}
  core::Result<int64_t> Suspend() noexcept override {
    return Counted(SuspendThread(thread_.get()), "cannot suspend");
  }
  core::Result<int64_t> Resume() noexcept override {
    return Counted(ResumeThread(thread_.get()), "cannot resume");
  }

 private:
  // The texts fit a string's own storage: a failure here never allocates.
  static core::Result<int64_t> Counted(DWORD previous, const char* failed) noexcept {
    if (previous != static_cast<DWORD>(-1))
      return int64_t{previous};
    const DWORD error = GetLastError();
    return core::Failure{failed, error == 0 ? ERROR_GEN_FAILURE : error};
  }
  win::ScopedHandle thread_;
};

// The threads of the job's processes, re-listed on every pass of a hold.
class JobThreadSource final : public ThreadSource {
 public:
  explicit JobThreadSource(HANDLE job) noexcept : job_(job) {}

  ThreadListing List() override {
    JobThreads listed = ListJobThreads(job_);
    process_ids_ = std::move(listed.process_ids);
    ThreadListing listing;
    listing.result = listed.result;
    listing.error = listed.error;
    listing.thread_ids.reserve(listed.threads.size());
    for (const ThreadOfJob& t : listed.threads)
      listing.thread_ids.push_back(t.thread_id);
    return listing;
  }

  std::unique_ptr<HeldThread> Open(uint32_t thread_id) override {
    win::ScopedHandle thread(
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread_id));
    if (!thread)
      return nullptr;
    // The id may have passed to another thread since the snapshot: hold only threads of the job.
    DWORD owner = GetProcessIdOfThread(thread.get());
    if (owner == 0 || !std::binary_search(process_ids_.begin(), process_ids_.end(),
                                          static_cast<uint32_t>(owner))) {
      return nullptr;
    }
    return std::make_unique<WinHeldThread>(std::move(thread));
  }

 private:
  HANDLE job_;
  std::vector<uint32_t> process_ids_;
};

// The step's main thread alone (no job object).
class MainThreadSource final : public ThreadSource {
 public:
  explicit MainThreadSource(HANDLE thread) noexcept : thread_(thread) {}

  ThreadListing List() override {
    ThreadListing listing;
    DWORD id = GetThreadId(thread_);
    if (id == 0) {
      listing.result = JobList::kFailed;
      listing.error = GetLastError();
      return listing;
    }
    listing.thread_ids.push_back(id);
    return listing;
  }

  std::unique_ptr<HeldThread> Open(uint32_t) override {
    win::ScopedHandle own;
    if (!DuplicateHandle(GetCurrentProcess(), thread_, GetCurrentProcess(), own.put(),
                         THREAD_SUSPEND_RESUME, FALSE, 0)) {
      return nullptr;
    }
    return std::make_unique<WinHeldThread>(std::move(own));
  }

 private:
  HANDLE thread_;
};

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
    DWORD io_error = GetLastError();
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION basic{};
    if (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &basic, sizeof basic,
                                  nullptr)) {
      raw.basic = JobBasicRaw{basic.TotalProcesses, basic.TotalKernelTime.QuadPart,
                              basic.TotalUserTime.QuadPart};
      out.failures.Set(AccountingQuery::kJobBasicAndIo, io_error);
    } else {
      // This failure covers the I/O figures as well.
      out.failures.Set(AccountingQuery::kJobBasic, GetLastError());
    }
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION extended{};
  if (QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &extended, sizeof extended,
                                nullptr)) {
    raw.extended = JobExtendedRaw{extended.PeakProcessMemoryUsed, extended.PeakJobMemoryUsed};
  } else {
    out.failures.Set(AccountingQuery::kJobExtendedLimit, GetLastError());
  }
  out.figures = JobFiguresFrom(raw);
  return out;
}

ProcessMemory QueryProcessMemory(HANDLE process) noexcept {
  ProcessMemory out;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    out.failures.Set(AccountingQuery::kProcessMemory, GetLastError());
    return out;
  }
  out.memory = ProcessMemoryFrom({counters.WorkingSetSize, counters.PagefileUsage,
                                  counters.PeakWorkingSetSize, counters.PeakPagefileUsage});
  return out;
}

ProcessTimes QueryProcessTimes(HANDLE process) noexcept {
  ProcessTimes out;
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
    out.failures.Set(AccountingQuery::kProcessTimes, GetLastError());
    return out;
  }
  out.ok = true;
  out.creation = LocalFromUtc(creation);
  out.exit = LocalFromUtc(exit);
  out.kernel_time = FileTimeTicks(kernel);
  out.user_time = FileTimeTicks(user);
  return out;
}

core::Result<std::vector<uint32_t>> ReadJobProcessIds(HANDLE job) noexcept {
  try {
    std::vector<uint32_t> ids;
    DWORD assigned = 0;
    DWORD error = QueryJobIds(job, 1, ids, assigned);
    // Processes may join between two reads: ask again with the new count, a few times.
    for (int attempt = 0; error == ERROR_MORE_DATA && attempt < 4; ++attempt)
      error = QueryJobIds(job, size_t{assigned} + 8, ids, assigned);
    if (error != 0)
      return core::Failure{"the job's processes cannot be listed", error};
    return ids;
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory", ERROR_NOT_ENOUGH_MEMORY};
  }
}

namespace {

DWORD ClassConstant(PriorityClass priority_class) noexcept {
  switch (priority_class) {
    case PriorityClass::kIdle:
      return IDLE_PRIORITY_CLASS;
    case PriorityClass::kBelowNormal:
      return BELOW_NORMAL_PRIORITY_CLASS;
    case PriorityClass::kAboveNormal:
      return ABOVE_NORMAL_PRIORITY_CLASS;
    case PriorityClass::kHigh:
      return HIGH_PRIORITY_CLASS;
    case PriorityClass::kRealtime:
      return REALTIME_PRIORITY_CLASS;
    case PriorityClass::kNormal:
    case PriorityClass::kOther:
      break;
  }
  return NORMAL_PRIORITY_CLASS;
}

PriorityClass ClassFromConstant(DWORD value) noexcept {
  switch (value) {
    case IDLE_PRIORITY_CLASS:
      return PriorityClass::kIdle;
    case BELOW_NORMAL_PRIORITY_CLASS:
      return PriorityClass::kBelowNormal;
    case NORMAL_PRIORITY_CLASS:
      return PriorityClass::kNormal;
    case ABOVE_NORMAL_PRIORITY_CLASS:
      return PriorityClass::kAboveNormal;
    case HIGH_PRIORITY_CLASS:
      return PriorityClass::kHigh;
    case REALTIME_PRIORITY_CLASS:
      return PriorityClass::kRealtime;
    default:
      return PriorityClass::kOther;
  }
}

static_assert(kThreadIdle == THREAD_PRIORITY_IDLE && kThreadLowest == THREAD_PRIORITY_LOWEST &&
              kThreadBelowNormal == THREAD_PRIORITY_BELOW_NORMAL &&
              kThreadNormal == THREAD_PRIORITY_NORMAL &&
              kThreadAboveNormal == THREAD_PRIORITY_ABOVE_NORMAL &&
              kThreadHighest == THREAD_PRIORITY_HIGHEST &&
              kThreadTimeCritical == THREAD_PRIORITY_TIME_CRITICAL);

}  // namespace

core::Result<void> SetStepPriority(HANDLE process,
                                   HANDLE thread,
                                   int32_t code,
                                   int32_t os_version) noexcept {
  PrioritySetting setting = PriorityFromCode(code, os_version);
  bool failed = false;
  DWORD error = 0;
  if (!SetPriorityClass(process, ClassConstant(setting.priority_class))) {
    failed = true;
    error = GetLastError();
  }
  if (!SetThreadPriority(thread, setting.thread_priority) && !failed) {
    failed = true;
    error = GetLastError();
  }
  // A text short enough for a string's own storage: the failure never allocates.
  if (failed)
    return core::Failure{"priority unset", error};
  return {};
}

int32_t ReadStepPriority(HANDLE process, HANDLE thread) noexcept {
  DWORD priority_class = GetPriorityClass(process);
  DWORD class_error = 0;
  if (priority_class == 0) {
    class_error = GetLastError();
    if (class_error == 0)
      class_error = ERROR_GEN_FAILURE;
  }
  // A failed read gives THREAD_PRIORITY_ERROR_RETURN, which reads back as 9.
  int thread_priority = GetThreadPriority(thread);
  return PriorityCodeFromReadBack(ClassFromConstant(priority_class), class_error, thread_priority);
}

namespace {

// Setting and reading the priority over every (process, thread) pair of the job. Pairs whose
// process or thread cannot be opened are passed over.
ThreadControlOutcome PriorityOverJob(HANDLE job, ThreadControlRequest& request) {
  ThreadControlOutcome outcome;
  JobThreads listed = ListJobThreads(job);
  outcome.result = listed.result;
  outcome.last_error = listed.error;
  if (listed.result != JobList::kListed)
    return outcome;
  const bool set = request.action == ThreadAction::kSetPriority;
  const DWORD process_access = set ? PROCESS_SET_INFORMATION : PROCESS_QUERY_LIMITED_INFORMATION;
  const DWORD thread_access = set ? THREAD_SET_INFORMATION : THREAD_QUERY_LIMITED_INFORMATION;
  for (const ThreadOfJob& t : listed.threads) {
    win::ScopedHandle process(OpenProcess(process_access, FALSE, t.process_id));
    win::ScopedHandle thread(OpenThread(thread_access, FALSE, t.thread_id));
    if (!process || !thread)
      continue;
    if (set) {
      const core::Result<void> priority =
          SetStepPriority(process.get(), thread.get(), request.priority_code, request.os_version);
      // A failure the system gave no code for still reports as one.
      if (!priority)
        outcome.last_error = std::max(priority.failure().system_code, uint32_t{1});
    } else {
      request.priority_code =
          std::max(request.priority_code, ReadStepPriority(process.get(), thread.get()));
    }
  }
  return outcome;
}

}  // namespace

ThreadControlOutcome ThreadControl(HANDLE job,
                                   ThreadControlRequest& request,
                                   HoldLedger& holds) noexcept {
  ThreadControlOutcome outcome;
  const ThreadAction action = request.action;
  if (action == ThreadAction::kNone)
    return outcome;
  try {
    if (action == ThreadAction::kHold) {
      JobThreadSource source(job);
      outcome = holds.Hold(source);
    } else if (action == ThreadAction::kResume) {
      outcome = holds.Resume();
    } else {
      outcome = PriorityOverJob(job, request);
    }
  } catch (const std::bad_alloc&) {
    outcome.result = JobList::kFailed;
    outcome.last_error = ERROR_NOT_ENOUGH_MEMORY;
  }
  request.action = ThreadAction::kNone;
  SetLastError(outcome.last_error);
  return outcome;
}

ThreadControlOutcome HoldMainThread(HANDLE thread, HoldLedger& holds) noexcept {
  MainThreadSource source(thread);
  ThreadControlOutcome outcome = holds.Hold(source);
  SetLastError(outcome.last_error);
  return outcome;
}

}  // namespace x5::runner
