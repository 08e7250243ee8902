// Holding and resuming the step's threads, with a ledger of every suspend the runner applied so
// that every hold can be released before a kill, an END or the cleanup.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/result.h"

namespace x5::runner {

// The system's "not enough memory" error code, for a ledger that cannot grow.
inline constexpr uint32_t kOutOfMemoryError = 8;

// One thread opened for suspending and resuming; closing it is the destructor's job. Holding it
// open keeps the thread object (and so its id) from being reused while it is held.
class HeldThread {
 public:
  virtual ~HeldThread() = default;
  // Both give the suspend count before the call, or fail with the system's error code.
  virtual core::Result<int64_t> Suspend() noexcept = 0;
  virtual core::Result<int64_t> Resume() noexcept = 0;
};

// Where the threads to hold come from: every thread of the job's processes, or the step's main
// thread alone when there is no job.
class ThreadSource {
 public:
  virtual ~ThreadSource() = default;
  // The ids of the threads to hold, or why they cannot be listed (the system's error code).
  virtual core::Result<std::vector<uint32_t>> List() = 0;
  // nullptr when the thread cannot be opened: it may have ended meanwhile, or not be the job's.
  virtual std::unique_ptr<HeldThread> Open(uint32_t thread_id) = 0;
};

// Threads created while a hold walks the job are caught by walking it again, up to this often.
inline constexpr int kHoldPasses = 4;

// Every suspend the runner applied, per thread. A hold suspends each thread of the source once;
// a resume undoes one suspend of each thread the ledger holds; so two holds need two resumes, and
// a thread the runner never suspended (one the step created suspended itself) is never resumed.
class HoldLedger {
 public:
  HoldLedger() = default;
  HoldLedger(const HoldLedger&) = delete;
  HoldLedger& operator=(const HoldLedger&) = delete;
  // A ledger never goes away holding threads.
  ~HoldLedger() { ResumeAllHeld(); }

  // Suspends every thread the source lists, once each; threads that appear while it works are
  // suspended too. Fails when any list or suspend failed, with the system error code of the last
  // that failed (what the operator's STOP reports); what was held is held all the same.
  [[nodiscard]] core::Result<void> Hold(ThreadSource& source) noexcept;
  // Undoes one suspend of every held thread. Fails as Hold does (what STRT reports).
  [[nodiscard]] core::Result<void> Resume() noexcept;
  // Undoes every suspend the runner applied. Call before terminating the step or its job, before
  // waiting for the step without a time limit, and at cleanup.
  void ResumeAllHeld() noexcept;

  size_t HeldThreadCount() const noexcept { return held_.size(); }

 private:
  struct Entry {
    std::unique_ptr<HeldThread> thread;
    int32_t count = 0;
  };
  std::map<uint32_t, Entry> held_;
};

}  // namespace x5::runner
