// The capture lock over the registry of the local machine (HKLM\Software\Halvex\<name>, "LOCK"),
// with a machine-wide mutex around each read-then-write of the value.
#include "pictures/capture_lock_win.h"

#include <windows.h>

#include <exception>

#include "core/fault.h"
#include "core/machine_key.h"
#include "pictures/message_pump_win.h"
#include "registry/registry_win.h"
#include "win/unique_handle.h"

namespace x5::pictures {
namespace {

constexpr const char* kLockValue = "LOCK";
// The value is read and written within milliseconds; a holder that takes longer than this is
// stuck, and the lock goes on without exclusion as it always could.
constexpr DWORD kExclusionWaitMs = 5000;

// Milliseconds from now to `end_tick`, at most `longest`; `longest` when there is no end.
DWORD WaitWithin(uint64_t end_tick, DWORD longest) {
  if (end_tick == 0)
    return longest;
  const uint64_t now = GetTickCount64();
  if (now >= end_tick)
    return 0;
  return end_tick - now < longest ? static_cast<DWORD>(end_tick - now) : longest;
}

class RegistryLockStore : public LockValueStore {
 public:
  int32_t OpenKey(std::string_view lock_name) override {
    // Only what the lock needs: a runner without full control of the key can still use it.
    return static_cast<int32_t>(registry::OpenKey(HKEY_LOCAL_MACHINE, KeyPath(lock_name),
                                                  KEY_QUERY_VALUE | KEY_SET_VALUE, key_));
  }

  int32_t CreateKey(std::string_view lock_name) override {
    // The parent must exist already: a machine without it does not use the lock.
    win::ScopedKey parent;
    LSTATUS status = registry::OpenKey(HKEY_LOCAL_MACHINE, std::string(core::kRunnersMachineKey),
                                       KEY_CREATE_SUB_KEY, parent);
    if (status != ERROR_SUCCESS)
      return static_cast<int32_t>(status);
    status = registry::CreateKey(parent.get(), std::string(lock_name),
                                 KEY_QUERY_VALUE | KEY_SET_VALUE, key_);
    return static_cast<int32_t>(status);
  }

  LockValue ReadValue() override {
    uint32_t number = 0;
    LSTATUS status = registry::ReadDword(key_.get(), kLockValue, number);
    if (status == ERROR_SUCCESS)
      return LockValue::Number(static_cast<int32_t>(number));
    if (status != ERROR_INVALID_DATATYPE)
      return LockValue{};  // absent, or unreadable: read as nothing, as an absent value
    std::string text;
    status = registry::ReadString(key_.get(), kLockValue, text);
    if (status == ERROR_SUCCESS)
      return LockValue::Text(std::move(text));
    return LockValue::Other();
  }

  int32_t WriteValue(int32_t value) override {
    return static_cast<int32_t>(
        registry::WriteDword(key_.get(), kLockValue, static_cast<uint32_t>(value)));
  }

  void CloseKey() override { key_.reset(); }

 private:
  static std::string KeyPath(std::string_view lock_name) {
    std::string path(core::kRunnersMachineKey);
    path += '\\';
    path.append(lock_name);
    return path;
  }

  win::ScopedKey key_;
};

// A named mutex seen by every runner on the machine; "Local\" when this session may not create a
// global object (all runners of one session then still exclude each other).
class MachineMutex : public LockExclusion {
 public:
  MachineMutex(const std::string& lock_name, uint64_t end_tick)
      : lock_name_(lock_name), end_tick_(end_tick) {}

  void EndAt(uint64_t end_tick) { end_tick_ = end_tick; }

  bool Enter() override {
    if (!made_) {
      made_ = true;
      const std::string name = "X5CaptureLock." + lock_name_;
      mutex_.reset(CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str()));
      if (!mutex_)
        mutex_.reset(CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str()));
    }
    if (!mutex_)
      return false;
    const DWORD wait = WaitForSingleObject(mutex_.get(), WaitWithin(end_tick_, kExclusionWaitMs));
    // An abandoned mutex (a runner ended while holding it) is ours now and still protects.
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }

  void Leave() override { ReleaseMutex(mutex_.get()); }

 private:
  std::string lock_name_;
  uint64_t end_tick_;
  bool made_ = false;
  win::ScopedHandle mutex_;
};

class MessagePause : public LockPause {
 public:
  explicit MessagePause(uint64_t end_tick) : end_tick_(end_tick) {}

  void EndAt(uint64_t end_tick) { end_tick_ = end_tick; }

  void Pause(int32_t milliseconds) override {
    PumpPendingMessages();
    if (milliseconds > 0)
      Sleep(WaitWithin(end_tick_, static_cast<DWORD>(milliseconds)));
  }

 private:
  uint64_t end_tick_;
};

}  // namespace

core::Result<LockState> RegistryLock(const std::string& lock_name,
                                     uint8_t mode,
                                     int32_t token,
                                     int32_t tries,
                                     int32_t wait_ms) noexcept {
  return RegistryLock(lock_name, mode, token, tries, wait_ms, 0);
}

core::Result<LockState> RegistryLock(const std::string& lock_name,
                                     uint8_t mode,
                                     int32_t token,
                                     int32_t tries,
                                     int32_t wait_ms,
                                     uint64_t end_tick) noexcept {
  try {
    RegistryLockStore store;
    MachineMutex exclusion(lock_name, end_tick);
    MessagePause pause(end_tick);
    return RegistryLock(lock_name, mode, token, tries, wait_ms,
                        LockServices{store, exclusion, pause});
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("CaptureLock"))};
  }
}

struct RegistryLockHold::Parts {
  explicit Parts(const std::string& name) : exclusion(name, 0), pause(0) {}
  RegistryLockStore store;
  MachineMutex exclusion;
  MessagePause pause;

  LockServices Services(uint64_t end_tick) {
    exclusion.EndAt(end_tick);
    pause.EndAt(end_tick);
    return LockServices{store, exclusion, pause};
  }
};

RegistryLockHold::RegistryLockHold(std::string lock_name) noexcept : name_(std::move(lock_name)) {}

RegistryLockHold::~RegistryLockHold() = default;

core::Result<LockState> RegistryLockHold::Acquire(int32_t token,
                                                  int32_t tries,
                                                  int32_t wait_ms,
                                                  uint64_t end_tick) noexcept {
  try {
    if (!parts_)
      parts_ = std::make_unique<Parts>(name_);
    core::Result<LockState> taken = RegistryLock(name_, kLockAcquire, token, tries, wait_ms,
                                                 parts_->Services(end_tick), LockKey::kKeepOpen);
    key_open_ = LockAcquired(taken);
    return taken;
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("CaptureLock"))};
  }
}

core::Result<LockState> RegistryLockHold::Release(int32_t token,
                                                  int32_t tries,
                                                  int32_t wait_ms,
                                                  uint64_t end_tick) noexcept {
  try {
    if (!parts_)
      parts_ = std::make_unique<Parts>(name_);
    const LockKey key = key_open_ ? LockKey::kAlreadyOpen : LockKey::kOpenAndClose;
    key_open_ = false;
    return RegistryLock(name_, kLockRelease, token, tries, wait_ms, parts_->Services(end_tick),
                        key);
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("CaptureLock"))};
  }
}

}  // namespace x5::pictures
