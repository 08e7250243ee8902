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

// The registry as the lock sees it: one optional parent, lock keys with an optional value. The
// journal records every call, so a test can see which calls shared one exclusion.
class FakeRegistry : public LockValueStore, public LockExclusion, public LockPause {
 public:
  bool parent = true;
  std::map<std::string, LockValue> keys;
  int32_t write_error = 0;
  int32_t create_error = 0;
  int64_t clock_ms = 0;
  std::vector<std::string> journal;
  // Called at each pause after the clock has advanced: a stand-in for the other runners.
  std::function<void(FakeRegistry&)> others;

  int32_t OpenKey(std::string_view name) override {
    journal.push_back("open");
    auto it = keys.find(std::string(name));
    if (it == keys.end())
      return kNotFound;
    open_.push_back(&it->second);
    return 0;
  }
  int32_t CreateKey(std::string_view name) override {
    journal.push_back("create");
    if (!parent)
      return kNotFound;
    if (create_error != 0)
      return create_error;
    open_.push_back(&keys[std::string(name)]);
    return 0;
  }
  LockValue ReadValue() override {
    journal.push_back(inside_ ? "read*" : "read");
    return *open_.back();
  }
  int32_t WriteValue(int32_t value) override {
    journal.push_back(inside_ ? "write*" : "write");
    if (write_error != 0)
      return write_error;
    *open_.back() = LockValue::Number(value);
    return 0;
  }
  void CloseKey() override {
    journal.push_back("close");
    open_.pop_back();
  }
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
  int pauses = 0;

  std::optional<int32_t> Value(const std::string& name = "Capture") {
    auto it = keys.find(name);
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

TEST(CaptureLock, AcquireCreatesTheKeyBelowAnExistingParent) {
  FakeRegistry r;
  EXPECT_EQ(r.Lock(kLockAcquire, 65802), 1);
  EXPECT_EQ(r.Value(), 65802);
  EXPECT_EQ(r.journal, (std::vector<std::string>{"open", "create", "write*", "close"}));
}

TEST(CaptureLock, WithoutTheParentNothingIsCreated) {
  FakeRegistry r;
  r.parent = false;
  EXPECT_EQ(r.Lock(kLockAcquire, 5), kNotFound);
  EXPECT_TRUE(r.keys.empty());
  EXPECT_EQ(r.Lock(kLockRelease, 5), kNotFound);
  r.parent = true;
  r.create_error = 5;  // access denied
  EXPECT_EQ(r.Lock(kLockAcquire, 5), 5);
}

TEST(CaptureLock, FreeValuesAreTakenAtOnce) {
  for (const LockValue& free_value : {LockValue::Number(0), LockValue::Number(-7), LockValue{},
                                      LockValue::Text(""), LockValue::Text(" 0 ")}) {
    FakeRegistry r;
    r.keys["Capture"] = free_value;
    EXPECT_EQ(r.Lock(kLockAcquire, 9), 1);
    EXPECT_EQ(r.Value(), 9);
    EXPECT_EQ(r.pauses, 0);
    // The free value was read and the token written under one exclusion.
    EXPECT_EQ(r.journal, (std::vector<std::string>{"open", "read*", "write*", "close"}));
  }
}

TEST(CaptureLock, WaitsUntilTheHolderReleases) {
  FakeRegistry r;
  r.keys["Capture"] = LockValue::Number(111);
  r.others = [](FakeRegistry& reg) {
    if (reg.clock_ms == 1000)
      EXPECT_EQ(reg.Lock(kLockRelease, 111), 0);
  };
  EXPECT_EQ(r.Lock(kLockAcquire, 222), 2);
  EXPECT_EQ(r.clock_ms, 1000);
  EXPECT_EQ(r.Value(), 222);
}

TEST(CaptureLock, TakesOverALockNeverReleased) {
  FakeRegistry r;
  r.keys["Capture"] = LockValue::Number(111);
  EXPECT_EQ(r.Lock(kLockAcquire, 222, 200, 200), 2);
  EXPECT_EQ(r.clock_ms, 40000);
  EXPECT_EQ(r.pauses, 200);
  EXPECT_EQ(r.Value(), 222);
  // Every look at the value while waiting, and the take-over, shared one exclusion with the write.
  for (const std::string& call : r.journal)
    EXPECT_TRUE(call != "read" && call != "write") << call;
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
  for (const LockValue& held : {LockValue::Text("4711"), LockValue::Text("busy"),
                                LockValue::Text("1.5"), LockValue::Other()}) {
    FakeRegistry r;
    r.keys["Capture"] = held;
    // Waited for through all tries, then taken over.
    EXPECT_EQ(r.Lock(kLockAcquire, 9, 2, 100), 2) << held.text;
    EXPECT_EQ(r.pauses, 2) << held.text;
    EXPECT_EQ(r.Value(), 9);
  }
  // A holder whose token is stored as text still frees its own lock; nobody else frees it.
  FakeRegistry text;
  text.keys["Capture"] = LockValue::Text("4711");
  EXPECT_EQ(text.Lock(kLockRelease, 4712), -2);
  EXPECT_EQ(text.Lock(kLockRelease, 4711), 0);
  EXPECT_EQ(text.Value(), 0);
  FakeRegistry other;
  other.keys["Capture"] = LockValue::Other();
  EXPECT_EQ(other.Lock(kLockRelease, 0), -2);
}

TEST(CaptureLock, FailedWritesGiveMinusTwo) {
  FakeRegistry fresh;
  fresh.write_error = 5;
  EXPECT_EQ(fresh.Lock(kLockAcquire, 1), -2);
  FakeRegistry held;
  held.keys["Capture"] = LockValue::Number(4);
  held.write_error = 5;
  EXPECT_EQ(held.Lock(kLockAcquire, 1, 2, 10), -2);
  // A release reports the write's own code.
  FakeRegistry mine;
  mine.keys["Capture"] = LockValue::Number(1);
  mine.write_error = 5;
  EXPECT_EQ(mine.Lock(kLockRelease, 1), 5);
}

TEST(CaptureLock, ReleaseOnlyByTheHolder) {
  FakeRegistry r;
  r.keys["Capture"] = LockValue::Number(77);
  EXPECT_EQ(r.Lock(kLockRelease, 78), -2);
  EXPECT_EQ(r.Value(), 77);
  EXPECT_EQ(r.Lock(kLockRelease, 77), 0);
  EXPECT_EQ(r.Value(), 0);
  EXPECT_EQ(r.Lock(kLockRelease, 0), 0) << "a free lock released with token 0 stays free";
  EXPECT_EQ(r.Lock(7, 77), -1);
  EXPECT_TRUE(LockAcquired(1) && LockAcquired(2));
  EXPECT_FALSE(LockAcquired(0) || LockAcquired(-2) || LockAcquired(5));
}

}  // namespace
}  // namespace x5
