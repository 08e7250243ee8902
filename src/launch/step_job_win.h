// The step's job object, and how a new step process gets into it before any of its code runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "core/result.h"
#include "win/unique_handle.h"

namespace x5::launch {

// A job whose processes all end when its last handle closes, so no process of the step outlives
// the runner, however the runner ends. Named `name` when that name is free; when it is not (a job
// of that name belongs to another runner, an object of another kind holds it, the name may not be
// used here, ...) the job is unnamed. Fails, with the system's error code of the last attempt,
// only when not even an unnamed job could be made.
[[nodiscard]] core::Result<win::ScopedHandle> CreateStepJob(const std::string& name) noexcept;

// Creation attributes that put the new process in the job as the system creates it, so there is
// no moment in which it exists outside the job. Systems without that attribute get no list, and
// `SuspendedStep::JoinJob` assigns the process right after its creation.
class JobAtCreation {
 public:
  explicit JobAtCreation(HANDLE job) noexcept;
  JobAtCreation(const JobAtCreation&) = delete;
  JobAtCreation& operator=(const JobAtCreation&) = delete;
  ~JobAtCreation();

  // Null when the process must be assigned after its creation.
  [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST List() noexcept {
    return ready_ ? reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_) : nullptr;
  }

 private:
  HANDLE job_;  // the list refers to this member, so it lives as long as the list
  alignas(16) uint8_t storage_[128];
  bool ready_ = false;
};

// A step process created suspended. Until `Release`, the destructor ends it: no failure between
// its creation and its start, nor an exception, leaves a process outside the job or suspended for
// ever.
class SuspendedStep {
 public:
  SuspendedStep(win::ScopedHandle process, win::ScopedHandle thread) noexcept
      : process_(std::move(process)), thread_(std::move(thread)) {}
  SuspendedStep(const SuspendedStep&) = delete;
  SuspendedStep& operator=(const SuspendedStep&) = delete;
  ~SuspendedStep();

  // Succeeds when the process is in the job (placed there at creation, or assigned now); fails
  // with the system's error code.
  [[nodiscard]] core::Result<void> JoinJob(HANDLE job) noexcept;
  // Succeeds when the main thread runs; fails with the system's error code.
  [[nodiscard]] core::Result<void> Start() noexcept;
  // Hands the running process over to the caller.
  void Release(win::ScopedHandle& process, win::ScopedHandle& thread) noexcept;

 private:
  win::ScopedHandle process_;
  win::ScopedHandle thread_;
};

}  // namespace x5::launch
