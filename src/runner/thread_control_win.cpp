// Win32 side of the thread control: holds, resumes and priorities over every thread of every
// process in the step's job, or over its main thread when there is no job.
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
