// The capture lock's states over a fake registry: free, held, waited for, taken over, released.
#include "pictures/capture_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace x5::pictures {
namespace {

constexpr int32_t kNotFound = 2;  // ERROR_FILE_NOT_FOUND

// The registry as the lock sees it: an optional parent and lock key. Every read or write of the
// value outside the exclusion is counted.
class FakeRegistry : public LockValueStore, public LockExclusion, public LockPause {
 public:
  bool parent = true;
  std::optional<LockValue> key;
  int32_t write_error = 0;
  int64_t clock_ms = 0;
  int pauses = 0;
  int outside = 0;
  int opens = 0;  // keys opened or created
  int closes = 0;
  std::function<void(FakeRegistry&)> others;  // the other runners, at each pause

  int32_t OpenKey(std::string_view) override {
    opens += key ? 1 : 0;
    return key ? 0 : kNotFound;
  }
  int32_t CreateKey(std::string_view) override {
    key = parent ? std::optional<LockValue>(LockValue{}) : std::nullopt;
    opens += key ? 1 : 0;
    return key ? 0 : kNotFound;
  }
  LockValue ReadValue() override {
    outside += inside_ ? 0 : 1;
    return *key;
  }
  int32_t WriteValue(int32_t value) override {
    outside += inside_ ? 0 : 1;
    if (write_error == 0)
      key = LockValue::Number(value);
    return write_error;
  }
  void CloseKey() override { ++closes; }
  bool Enter() override {
    EXPECT_FALSE(inside_) << "exclusion entered twice";
    return inside_ = true;
  }
  void Leave() override { inside_ = false; }
  void Pause(int32_t ms) override {
    EXPECT_FALSE(inside_) << "paused while holding the exclusion";
    ++pauses;
    clock_ms += ms;
    if (others)
      others(*this);
  }

  std::optional<int32_t> Value() const {
    return key && key->kind == LockValue::Kind::kNumber ? std::optional(key->number) : std::nullopt;
  }
  core::Result<LockState> Lock(uint8_t mode,
                               int32_t token,
                               int32_t tries = 200,
                               int32_t wait = 200,
                               LockKey use = LockKey::kOpenAndClose) {
    return RegistryLock("Capture", mode, token, tries, wait, LockServices{*this, *this, *this},
                        use);
  }

 private:
  bool inside_ = false;
};

TEST(CaptureLock, AcquireCreatesTheKeyOnlyBelowAnExistingParent) {
  FakeRegistry r;
  EXPECT_EQ(*r.Lock(kLockAcquire, 65802), LockState::kTaken);
  EXPECT_EQ(r.Value(), 65802);
  EXPECT_EQ(r.outside, 0);
  FakeRegistry orphan;
  orphan.parent = false;
  EXPECT_EQ(orphan.Lock(kLockAcquire, 5).failure().system_code, uint32_t{kNotFound});
  EXPECT_FALSE(orphan.key);
}

// A text is read as the number it spells; a text that is no number or a value of another type is
// a holder that cannot be named, never taken as free: it is taken over after the tries.
TEST(CaptureLock, OnlyFreeValuesAreTakenAtOnce) {
  const std::pair<LockValue, int> cases[] = {
      {LockValue::Number(-7), 0},  {LockValue{}, 0},
      {LockValue::Text(" 0 "), 0}, {LockValue::Text("4711"), 2},
      {LockValue::Text("1.5"), 2}, {LockValue::Other(), 2}};
  for (const auto& [held, pauses] : cases) {
    FakeRegistry r;
    r.key = held;
    EXPECT_EQ(*r.Lock(kLockAcquire, 9, 2, 100),
              pauses == 0 ? LockState::kTaken : LockState::kTakenAfterWait)
        << held.text;
    EXPECT_EQ(r.pauses, pauses) << held.text;
    EXPECT_EQ(r.Value(), 9);
    EXPECT_EQ(r.outside, 0);  // each value read and the token written under one exclusion
  }
}

TEST(CaptureLock, AWaiterTakesTheLockOnlyWhenItIsFree) {
  FakeRegistry r;
  r.key = LockValue::Number(111);
  // At 400 ms a third runner has the lock before this one looks; it frees it at 1000 ms.
  r.others = [](FakeRegistry& reg) {
    if (reg.clock_ms == 400 || reg.clock_ms == 1000)
      reg.key = LockValue::Number(reg.clock_ms == 400 ? 333 : 0);
  };
  EXPECT_EQ(*r.Lock(kLockAcquire, 222), LockState::kTakenAfterWait);
  EXPECT_EQ(r.clock_ms, 1000);
  EXPECT_EQ(r.Value(), 222);
}

TEST(CaptureLock, ReleaseOnlyByTheHolderAndFailedWrites) {
  FakeRegistry held;
  held.key = LockValue::Number(4);
  held.write_error = 5;
  EXPECT_EQ(held.Lock(kLockAcquire, 1, 2, 10).failure().system_code, 5u);
  EXPECT_EQ(held.Lock(kLockRelease, 4).failure().system_code, 5u);
  // A holder whose token is stored as text still frees its own lock; nobody else frees it.
  FakeRegistry r;
  r.key = LockValue::Text("77");
  EXPECT_FALSE(r.Lock(kLockRelease, 78).ok());
  EXPECT_EQ(*r.Lock(kLockRelease, 77), LockState::kFreed);
  EXPECT_EQ(r.Value(), 0);
  EXPECT_FALSE(r.Lock(7, 77).ok());
  EXPECT_TRUE(LockAcquired(LockState::kTaken) && LockAcquired(LockState::kTakenAfterWait));
  EXPECT_FALSE(LockAcquired(LockState::kFreed) || LockAcquired(core::Failure{}));
}

// A hold keeps the key it opened from its acquire to its release; whatever a call ends with, every
// key opened is closed once.
TEST(CaptureLock, AHoldKeepsItsKeyUntilTheReleaseAndEveryKeyIsClosed) {
  FakeRegistry r;
  EXPECT_EQ(*r.Lock(kLockAcquire, 5, 2, 10, LockKey::kKeepOpen), LockState::kTaken);
  EXPECT_EQ(r.closes, 0);
  EXPECT_EQ(*r.Lock(kLockRelease, 5, 2, 10, LockKey::kAlreadyOpen), LockState::kFreed);
  EXPECT_EQ(r.opens, 1);
  EXPECT_EQ(r.closes, 1);
  EXPECT_EQ(r.Value(), 0);
  // Taken by another runner meanwhile: the release fails and still closes the key.
  EXPECT_TRUE(r.Lock(kLockAcquire, 6, 2, 10, LockKey::kKeepOpen));
  r.key = LockValue::Number(7);
  EXPECT_FALSE(r.Lock(kLockRelease, 6, 2, 10, LockKey::kAlreadyOpen).ok());
  // An acquire that fails keeps nothing open.
  r.write_error = 5;
  EXPECT_FALSE(r.Lock(kLockAcquire, 8, 1, 10, LockKey::kKeepOpen).ok());
  EXPECT_EQ(r.opens, r.closes);
  EXPECT_EQ(r.Value(), 7);
}

}  // namespace
}  // namespace x5::pictures
