// The capture lock over the registry of the local machine (HKLM\Software\Halvex\<name>, "LOCK"),
// with a machine-wide mutex around each read-then-write of the value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pictures/capture_lock.h"

namespace x5::pictures {

// `RegistryLock` of capture_lock.h on this machine's registry; waits handle the runner's window
// messages between sleeps.
core::Result<LockState> RegistryLock(const std::string& lock_name,
                                     uint8_t mode,
                                     int32_t token,
                                     int32_t tries,
                                     int32_t wait_ms) noexcept;

// The same with no wait running past `end_tick` (a GetTickCount64 value; 0 for no end): once it
// has passed, pauses between tries are skipped and the exclusion is asked for without waiting, so
// picture work that ran out of time still takes and frees the lock at once.
core::Result<LockState> RegistryLock(const std::string& lock_name,
                                     uint8_t mode,
                                     int32_t token,
                                     int32_t tries,
                                     int32_t wait_ms,
                                     uint64_t end_tick) noexcept;

// One capture's hold of the lock: the key and the machine-wide mutex that an acquire opens stay
// open until the release (under Wine each open and close is a request to its server). Waits
// end as with RegistryLock and `end_tick`; the mutex is made on the first exclusion asked for.
class RegistryLockHold {
 public:
  explicit RegistryLockHold(std::string lock_name) noexcept;
  RegistryLockHold(const RegistryLockHold&) = delete;
  RegistryLockHold& operator=(const RegistryLockHold&) = delete;
  ~RegistryLockHold();

  core::Result<LockState> Acquire(int32_t token,
                                  int32_t tries,
                                  int32_t wait_ms,
                                  uint64_t end_tick) noexcept;
  // Frees the lock taken by Acquire and closes what it opened.
  core::Result<LockState> Release(int32_t token,
                                  int32_t tries,
                                  int32_t wait_ms,
                                  uint64_t end_tick) noexcept;

 private:
  struct Parts;
  std::string name_;
  std::unique_ptr<Parts> parts_;
  bool key_open_ = false;
};

}  // namespace x5::pictures
