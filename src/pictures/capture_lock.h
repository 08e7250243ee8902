// The capture lock: a cross-process lock kept as a registry value ("LOCK" under the local
// machine's Software\Halvex\<name>), so that runners on one machine capture one window at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/result.h"

namespace x5::pictures {

// The "LOCK" value as the store holds it. The lock writes only 32-bit numbers; a text or a value of
// another type was put there by someone else.
struct LockValue {
  enum class Kind : uint8_t { kAbsent, kNumber, kText, kOther };
  Kind kind = Kind::kAbsent;
  int32_t number = 0;  // kNumber
  std::string text;    // kText, cut at its first NUL

  [[nodiscard]] static LockValue Number(int32_t value) { return {Kind::kNumber, value, {}}; }
  [[nodiscard]] static LockValue Text(std::string value) {
    return {Kind::kText, 0, std::move(value)};
  }
  [[nodiscard]] static LockValue Other() { return {Kind::kOther, 0, {}}; }
};

// The token a value stands for: absent 0, a number itself, a text the whole number it spells (the
// empty text 0). Empty for a text that is no number and for any other type: a holder the lock
// cannot name, so the lock is not free and is never this runner's; it is taken over only after the
// waiting time, as a holder that never releases.
[[nodiscard]] std::optional<int32_t> LockToken(const LockValue& value) noexcept;

// The lock value's store (the registry on Windows, a map in tests). One key at a time is open.
class LockValueStore {
 public:
  virtual ~LockValueStore() = default;
  // Opens the lock's key; 0 or the registry's error code.
  virtual int32_t OpenKey(std::string_view lock_name) = 0;
  // Creates the lock's key below the existing parent key (which is not created) and keeps it
  // open; 0 or the registry's error code of opening the parent or creating the key.
  virtual int32_t CreateKey(std::string_view lock_name) = 0;
  // The value of the open key.
  virtual LockValue ReadValue() = 0;
  // Writes the value as a REG_DWORD; 0 or the registry's error code.
  virtual int32_t WriteValue(int32_t value) = 0;
  virtual void CloseKey() = 0;
};

// Makes one read-compare-write of the value atomic between runners on one machine.
class LockExclusion {
 public:
  virtual ~LockExclusion() = default;
  // False when exclusion cannot be had; the lock then goes on without it, as it always could.
  virtual bool Enter() = 0;
  virtual void Leave() = 0;
};

// One pause between tries: handles the runner's pending window messages, then sleeps.
class LockPause {
 public:
  virtual ~LockPause() = default;
  virtual void Pause(int32_t milliseconds) = 0;
};

struct LockServices {
  LockValueStore& store;
  LockExclusion& exclusion;
  LockPause& pause;
};

inline constexpr uint8_t kLockAcquire = 1;
inline constexpr uint8_t kLockRelease = 0;

// What a lock call that went through did.
enum class LockState : uint8_t {
  kTaken,           // acquired: it was free
  kTakenAfterWait,  // acquired after waiting: freed meanwhile, or taken over when the tries ran out
  kFreed,           // released
};

// How a lock call uses the store's key: opened and closed by the call, or, for a hold that keeps
// it from acquire to release (one open and one close less each way), left open by an acquire that
// went through and found open by the release, which closes it in every case.
enum class LockKey : uint8_t { kOpenAndClose, kKeepOpen, kAlreadyOpen };

// Fails when the key cannot be opened or created (with the registry's error code; nothing was
// changed), when the token cannot be written, when a release finds the lock not held with this
// token, and for an unknown mode.
core::Result<LockState> RegistryLock(const std::string& lock_name,
                                     uint8_t mode,
                                     int32_t token,
                                     int32_t tries,
                                     int32_t wait_ms,
                                     const LockServices& services,
                                     LockKey key = LockKey::kOpenAndClose) noexcept;

// True for the acquire results after which the lock holds the token.
[[nodiscard]] inline bool LockAcquired(const core::Result<LockState>& result) noexcept {
  return result && (*result == LockState::kTaken || *result == LockState::kTakenAfterWait);
}

}  // namespace x5::pictures
