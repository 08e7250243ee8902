// The capture lock's states over a fake registry: free, held, waited for, taken over, released.
#include "pictures/capture_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace x5 {
namespace {

constexpr int32_t kNotFound = 2;  // ERROR_FILE_NOT_FOUND

// The registry as the lock sees it: one optional parent, lock keys with an optional value. Every
// read or write of a value outside the exclusion is counted.
class FakeRegistry : public LockValueStore, public LockExclusion, public LockPause {
 public:
  bool parent = true;
  std::map<std::string, LockValue> keys;
  int32_t write_error = 0;
  int64_t clock_ms = 0;
  int pauses = 0;
  int outside = 0;
  // Called at each pause after the clock has advanced: a stand-in for the other runners.
  std::function<void(FakeRegistry&)> others;

  int32_t OpenKey(std::string_view name) override {
    auto it = keys.find(std::string(name));
    if (it == keys.end())
      return kNotFound;
    open_.push_back(&it->second);
    return 0;
  }
  int32_t CreateKey(std::string_view name) override {
    if (!parent)
      return kNotFound;
    open_.push_back(&keys[std::string(name)]);
    return 0;
  }
  LockValue ReadValue() override {
    outside += inside_ ? 0 : 1;
    return *open_.back();
  }
  int32_t WriteValue(int32_t value) override {
    outside += inside_ ? 0 : 1;
    if (write_error != 0)
      return write_error;
    *open_.back() = LockValue::Number(value);
    return 0;
  }
  void CloseKey() override { open_.pop_back(); }
  bool Enter() override {
    EXPECT_FALSE(inside_) << "exclusion entered twice";
    inside_ = true;
    return true;
  }
  void Leave() override { inside_ = false; }
  void Pause(int32_t ms) override {
    EXPECT_FALSE(inside_) << "paused while holding the exclusion";
    ++pauses;
    clock_ms += ms;
    if (others)
      others(*this);
  }

  std::optional<int32_t> Value() {
    auto it = keys.find("Capture");
    if (it == keys.end() || it->second.kind != LockValue::Kind::kNumber)
      return std::nullopt;
    return it->second.number;
  }
  int32_t Lock(uint8_t mode, int32_t token, int32_t tries = 200, int32_t wait = 200) {
    return RegistryLock("Capture", mode, token, tries, wait, LockServices{*this, *this, *this});
  }

 private:
  // Keys open now, innermost last: the other runners lock from inside a pause.
  std::vector<LockValue*> open_;
  bool inside_ = false;
};

TEST(CaptureLock, AcquireCreatesTheKeyOnlyBelowAnExistingParent) {
  FakeRegistry r;
  EXPECT_EQ(r.Lock(kLockAcquire, 65802), 1);
  EXPECT_EQ(r.Value(), 65802);
  EXPECT_EQ(r.outside, 0);
  FakeRegistry orphan;
  orphan.parent = false;
  EXPECT_EQ(orphan.Lock(kLockAcquire, 5), kNotFound);
  EXPECT_TRUE(orphan.keys.empty());
}

TEST(CaptureLock, FreeValuesAreTakenAtOnce) {
  for (const LockValue& free_value : {LockValue::Number(-7), LockValue{}, LockValue::Text(" 0 ")}) {
    FakeRegistry r;
    r.keys["Capture"] = free_value;
    EXPECT_EQ(r.Lock(kLockAcquire, 9), 1);
    EXPECT_EQ(r.Value(), 9);
    EXPECT_EQ(r.pauses, 0);
    EXPECT_EQ(r.outside, 0);  // the free value read and the token written under one exclusion
  }
}

TEST(CaptureLock, TakesOverALockNeverReleased) {
  FakeRegistry r;
  r.keys["Capture"] = LockValue::Number(111);
  EXPECT_EQ(r.Lock(kLockAcquire, 222, 200, 200), 2);
  EXPECT_EQ(r.clock_ms, 40000);
  EXPECT_EQ(r.Value(), 222);
  EXPECT_EQ(r.outside, 0);
  // The previous holder cannot free what was taken over.
  EXPECT_EQ(r.Lock(kLockRelease, 111), -2);
  EXPECT_EQ(r.Value(), 222);
}

TEST(CaptureLock, AWaiterDoesNotSnatchALockAnotherWaiterTookFirst) {
  FakeRegistry r;
  r.keys["Capture"] = LockValue::Number(111);
  r.others = [](FakeRegistry& reg) {
    // At 400 ms the holder releases and a third runner takes the lock before this one looks.
    if (reg.clock_ms == 400) {
      EXPECT_EQ(reg.Lock(kLockRelease, 111), 0);
      EXPECT_EQ(reg.Lock(kLockAcquire, 333), 1);
    }
    if (reg.clock_ms == 1000)
      EXPECT_EQ(reg.Lock(kLockRelease, 333), 0);
  };
  EXPECT_EQ(r.Lock(kLockAcquire, 222), 2);
  EXPECT_EQ(r.clock_ms, 1000);
  EXPECT_EQ(r.Value(), 222);
}

// Values the lock never writes itself: a text is read as the number it spells; a text that is no
// number or a value of another type is a holder that cannot be named, never taken as free.
TEST(CaptureLock, ValuesOfOtherTypesAreNeverTakenAsFree) {
  for (const LockValue& held :
       {LockValue::Text("4711"), LockValue::Text("1.5"), LockValue::Other()}) {
    FakeRegistry r;
    r.keys["Capture"] = held;
    EXPECT_EQ(r.Lock(kLockAcquire, 9, 2, 100), 2) << held.text;
    EXPECT_EQ(r.pauses, 2) << held.text;
  }
  // A holder whose token is stored as text still frees its own lock; nobody else frees it.
  FakeRegistry text;
  text.keys["Capture"] = LockValue::Text("4711");
  EXPECT_EQ(text.Lock(kLockRelease, 4712), -2);
  EXPECT_EQ(text.Lock(kLockRelease, 4711), 0);
  EXPECT_EQ(text.Value(), 0);
}

TEST(CaptureLock, FailedWritesGiveMinusTwoOrTheReleasesCode) {
  FakeRegistry held;
  held.keys["Capture"] = LockValue::Number(4);
  held.write_error = 5;
  EXPECT_EQ(held.Lock(kLockAcquire, 1, 2, 10), -2);
  EXPECT_EQ(held.Lock(kLockRelease, 4), 5);
}

TEST(CaptureLock, ReleaseOnlyByTheHolder) {
  FakeRegistry r;
  r.keys["Capture"] = LockValue::Number(77);
  EXPECT_EQ(r.Lock(kLockRelease, 78), -2);
  EXPECT_EQ(r.Value(), 77);
  EXPECT_EQ(r.Lock(kLockRelease, 77), 0);
  EXPECT_EQ(r.Value(), 0);
  EXPECT_EQ(r.Lock(7, 77), -1);
  EXPECT_TRUE(LockAcquired(1) && LockAcquired(2));
  EXPECT_FALSE(LockAcquired(0) || LockAcquired(-2));
}

}  // namespace
}  // namespace x5
