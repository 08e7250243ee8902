// The capture lock: a cross-process lock kept as a registry value ("LOCK" under the local
// machine's Software\Halvex\<name>), so that runners on one machine capture one window at a time.
#include "pictures/capture_lock.h"

#include <exception>

#include "conditions/parse_number.h"
#include "core/fault.h"

namespace x5::pictures {
namespace {

// Holds the machine-wide exclusion for one read-compare-write.
class Exclusive {
 public:
  explicit Exclusive(LockExclusion& exclusion)
      : exclusion_(exclusion), entered_(exclusion.Enter()) {}
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  ~Exclusive() {
    if (entered_)
      exclusion_.Leave();
  }

 private:
  LockExclusion& exclusion_;
  bool entered_;
};

class KeyCloser {
 public:
  explicit KeyCloser(LockValueStore& store) : store_(store) {}
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;
  ~KeyCloser() {
    if (open_)
      store_.CloseKey();
  }
  void MarkOpen() { open_ = true; }
  // Left open for the release that follows.
  void Keep() { open_ = false; }

 private:
  LockValueStore& store_;
  bool open_ = false;
};

bool IsFree(LockValueStore& store) {
  const std::optional<int32_t> token = LockToken(store.ReadValue());
  return token && *token < 1;
}

core::Result<LockState> WriteToken(LockValueStore& store, int32_t token, LockState success) {
  const int32_t error = store.WriteValue(token);
  if (error != 0)
    return core::Failure{"the capture lock's token cannot be written",
                         static_cast<uint32_t>(error)};
  return success;
}

core::Result<LockState> KeyFailure(int32_t error) {
  return core::Failure{"the capture lock's key cannot be opened", static_cast<uint32_t>(error)};
}

// Takes the lock through `key`, which it marks open once the key is open.
core::Result<LockState> TakeWithKey(const std::string& name,
                                    int32_t token,
                                    int32_t tries,
                                    int32_t wait_ms,
                                    const LockServices& s,
                                    KeyCloser& key) {
  if (s.store.OpenKey(name) != 0) {
    const int32_t created = s.store.CreateKey(name);
    if (created != 0)
      return KeyFailure(created);
    key.MarkOpen();
    Exclusive exclusive(s.exclusion);
    return WriteToken(s.store, token, LockState::kTaken);
  }
  key.MarkOpen();
  {
    Exclusive exclusive(s.exclusion);
    if (IsFree(s.store))
      return WriteToken(s.store, token, LockState::kTaken);
  }
  for (int32_t attempt = 0; attempt < tries; ++attempt) {
    s.pause.Pause(wait_ms);
    // The value is read and the token written under one exclusion, so of two runners that see
    // the lock freed only one takes it; the other goes on waiting.
    Exclusive exclusive(s.exclusion);
    if (IsFree(s.store))
      return WriteToken(s.store, token, LockState::kTakenAfterWait);
  }
  // Waited long enough: a holder that never released is taken over.
  Exclusive exclusive(s.exclusion);
  return WriteToken(s.store, token, LockState::kTakenAfterWait);
}

core::Result<LockState> Acquire(const std::string& name,
                                int32_t token,
                                int32_t tries,
                                int32_t wait_ms,
                                const LockServices& s,
                                bool keep_key) {
  KeyCloser key(s.store);
  core::Result<LockState> taken = TakeWithKey(name, token, tries, wait_ms, s, key);
  if (keep_key && taken)
    key.Keep();
  return taken;
}

core::Result<LockState> Release(const std::string& name,
                                int32_t token,
                                const LockServices& s,
                                bool key_open) {
  KeyCloser key(s.store);
  if (!key_open) {
    const int32_t opened = s.store.OpenKey(name);
    if (opened != 0)
      return KeyFailure(opened);
  }
  key.MarkOpen();
  Exclusive exclusive(s.exclusion);
  if (LockToken(s.store.ReadValue()) != token)
    return core::Failure{"the capture lock is not held with this token"};
  return WriteToken(s.store, 0, LockState::kFreed);
}

}  // namespace

std::optional<int32_t> LockToken(const LockValue& value) noexcept {
  switch (value.kind) {
    case LockValue::Kind::kAbsent:
      return 0;
    case LockValue::Kind::kNumber:
      return value.number;
    case LockValue::Kind::kText: {
      std::string_view text = value.text;
      while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
      while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
      const int32_t number = conditions::ParseNumber(text, false);
      if (number == conditions::kInvalidNumber)
        return std::nullopt;
      return number;
    }
    case LockValue::Kind::kOther:
      break;
  }
  return std::nullopt;
}

core::Result<LockState> RegistryLock(const std::string& lock_name,
                                     uint8_t mode,
                                     int32_t token,
                                     int32_t tries,
                                     int32_t wait_ms,
                                     const LockServices& services,
                                     LockKey key) noexcept {
  try {
    if (mode == kLockAcquire)
      return Acquire(lock_name, token, tries, wait_ms, services, key == LockKey::kKeepOpen);
    if (mode == kLockRelease)
      return Release(lock_name, token, services, key == LockKey::kAlreadyOpen);
    return core::Failure{"no such capture lock mode"};
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("RegistryLock"))};
  }
}

}  // namespace x5::pictures
