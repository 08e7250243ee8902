// Win32 side of the thread control: holds and priorities over every thread of every process in
// the step's job, or over its main thread when there is no job.
#include "runner/thread_control_win.h"

#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "runner/job_processes_win.h"
#include "runner/priority_win.h"
#include "win/unique_handle.h"

namespace x5::runner {
namespace {

struct ThreadOfJob {
  uint32_t process_id = 0;
  uint32_t thread_id = 0;
};

struct JobThreads {
  std::vector<uint32_t> process_ids;  // sorted
  std::vector<ThreadOfJob> threads;   // in snapshot order
};

// Every thread of every process in the job, from one process list (fixed room) and one snapshot
// of the system's threads. Fails with the system error code of the list or the snapshot.
core::Result<JobThreads> ListJobThreads(HANDLE job) {
  JobThreads out;
  DWORD assigned = 0;
  if (const DWORD error = QueryJobIds(job, kThreadControlRoom, out.process_ids, assigned))
    return core::Failure{"job not listed", error};
  std::sort(out.process_ids.begin(), out.process_ids.end());
  win::ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot)
    return core::Failure{"no snapshot", GetLastError()};
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

  core::Result<std::vector<uint32_t>> List() override {
    core::Result<JobThreads> listed = ListJobThreads(job_);
    if (!listed)
      return std::move(listed).failure();
    process_ids_ = std::move(listed->process_ids);
    std::vector<uint32_t> thread_ids;
    thread_ids.reserve(listed->threads.size());
    for (const ThreadOfJob& t : listed->threads)
      thread_ids.push_back(t.thread_id);
    return thread_ids;
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

  core::Result<std::vector<uint32_t>> List() override {
    const DWORD id = GetThreadId(thread_);
    if (id == 0)
      return core::Failure{"no thread id", GetLastError()};
    return std::vector<uint32_t>{id};
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

core::Result<void> HoldJob(HANDLE job, HoldLedger& holds) noexcept {
  try {
    JobThreadSource source(job);
    return holds.Hold(source);
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory", ERROR_NOT_ENOUGH_MEMORY};
  }
}

core::Result<void> HoldMainThread(HANDLE thread, HoldLedger& holds) noexcept {
  MainThreadSource source(thread);
  return holds.Hold(source);
}

core::Result<void> SetJobPriority(HANDLE job, int32_t code, core::OsLevel os_level) noexcept {
  try {
    const core::Result<JobThreads> listed = ListJobThreads(job);
    if (!listed)
      return listed.failure();
    core::Result<void> outcome;
    for (const ThreadOfJob& t : listed->threads) {
      win::ScopedHandle process(OpenProcess(PROCESS_SET_INFORMATION, FALSE, t.process_id));
      win::ScopedHandle thread(OpenThread(THREAD_SET_INFORMATION, FALSE, t.thread_id));
      if (!process || !thread)
        continue;
      core::Result<void> priority = SetStepPriority(process.get(), thread.get(), code, os_level);
      if (!priority)
        outcome = std::move(priority);
    }
    return outcome;
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory", ERROR_NOT_ENOUGH_MEMORY};
  }
}

core::Result<int32_t> ReadJobPriority(HANDLE job, int32_t start) noexcept {
  try {
    const core::Result<JobThreads> listed = ListJobThreads(job);
    if (!listed)
      return listed.failure();
    int32_t highest = start;
    for (const ThreadOfJob& t : listed->threads) {
      win::ScopedHandle process(
          OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, t.process_id));
      win::ScopedHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, t.thread_id));
      if (process && thread)
        highest = std::max(highest, PriorityCodeOf(ReadStepPriority(process.get(), thread.get())));
    }
    return highest;
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory", ERROR_NOT_ENOUGH_MEMORY};
  }
}

}  // namespace x5::runner
