// The hold ledger over a simulated set of threads: counts, late threads, failures, release-all.
#include "runner/thread_hold.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace x5::mThread {
namespace {

// A system of threads with real suspend counts, as the kernel keeps them.
struct FakeSystem {
  std::map<uint32_t, int64_t> suspend_count;  // live threads
  std::vector<uint32_t> listed;               // what the next List() shows
  int32_t list_result = 0;
  uint32_t list_error = 0;
  int open_calls = 0;
  int list_calls = 0;
  // Runs after each listing, e.g. to start a new thread while a hold walks the job.
  std::function<void(int)> after_list;
};

class FakeThread final : public HeldThread {
 public:
  FakeThread(FakeSystem& system, uint32_t id) : system_(system), id_(id) {}
  int64_t Suspend() noexcept override {
    auto it = system_.suspend_count.find(id_);
    if (it == system_.suspend_count.end())
      return -5;  // ended: access denied
    return it->second++;
  }
  int64_t Resume() noexcept override {
    auto it = system_.suspend_count.find(id_);
    if (it == system_.suspend_count.end())
      return -5;
    int64_t previous = it->second;
    if (previous > 0)
      --it->second;
    return previous;
  }

 private:
  FakeSystem& system_;
  uint32_t id_;
};

class FakeSource final : public ThreadSource {
 public:
  explicit FakeSource(FakeSystem& system) : system_(system) {}
  ThreadListing List() override {
    ThreadListing listing{system_.list_result, system_.list_error, system_.listed};
    if (system_.after_list)
      system_.after_list(system_.list_calls);
    ++system_.list_calls;
    return listing;
  }
  std::unique_ptr<HeldThread> Open(uint32_t id, uint32_t& error) override {
    ++system_.open_calls;
    if (!system_.suspend_count.count(id)) {
      error = 87;
      return nullptr;
    }
    return std::make_unique<FakeThread>(system_, id);
  }

 private:
  FakeSystem& system_;
};

FakeSystem ThreeThreads() {
  FakeSystem s;
  s.suspend_count = {{10, 0}, {11, 0}, {20, 0}};
  s.listed = {10, 11, 20};
  return s;
}

TEST(HoldLedger, TwoHoldsNeedTwoResumes) {
  FakeSystem s = ThreeThreads();
  FakeSource source(s);
  HoldLedger ledger;
  EXPECT_EQ(ledger.Hold(source).result, 0);
  EXPECT_EQ(ledger.Hold(source).last_error, 0u);
  EXPECT_EQ(s.suspend_count[10], 2);
  EXPECT_EQ(ledger.HoldCount(11), 2);
  EXPECT_EQ(s.open_calls, 3);  // the ledger keeps its handles across holds

  ThreadControlOutcome r = ledger.Resume();
  EXPECT_EQ(r.last_error, 0u);
  EXPECT_EQ(s.suspend_count[20], 1);
  (void)ledger.Resume();
  EXPECT_EQ(s.suspend_count[20], 0);
  EXPECT_EQ(ledger.HeldThreadCount(), 0u);
  // A resume with nothing held touches nothing.
  EXPECT_EQ(ledger.Resume().result, 0);
}

TEST(HoldLedger, NeverResumesAThreadItDidNotSuspend) {
  FakeSystem s = ThreeThreads();
  s.suspend_count[11] = 1;  // the step created it suspended
  FakeSource source(s);
  HoldLedger ledger;
  s.listed = {10};
  (void)ledger.Hold(source);
  (void)ledger.Resume();
  (void)ledger.Resume();
  EXPECT_EQ(s.suspend_count[11], 1);
  EXPECT_EQ(s.suspend_count[10], 0);
}

TEST(HoldLedger, ThreadsStartedDuringTheHoldAreHeldToo) {
  FakeSystem s = ThreeThreads();
  // A process of the job starts a thread (30) while the first pass suspends the others, and one
  // more (31) during the second pass.
  s.after_list = [&](int call) {
    if (call == 0) {
      s.suspend_count[30] = 0;
      s.listed.push_back(30);
    } else if (call == 1) {
      s.suspend_count[31] = 0;
      s.listed.push_back(31);
    }
  };
  FakeSource source(s);
  HoldLedger ledger;
  (void)ledger.Hold(source);
  for (uint32_t id : {10u, 11u, 20u, 30u, 31u})
    EXPECT_EQ(s.suspend_count[id], 1) << id;
  EXPECT_EQ(s.list_calls, 4);  // the last pass found nothing new
  ledger.ResumeAllHeld();
  for (uint32_t id : {10u, 11u, 20u, 30u, 31u})
    EXPECT_EQ(s.suspend_count[id], 0) << id;
}

TEST(HoldLedger, PassesAreBounded) {
  FakeSystem s = ThreeThreads();
  uint32_t next = 100;
  s.after_list = [&](int) {  // a step that starts threads faster than they can be held
    s.suspend_count[next] = 0;
    s.listed.push_back(next++);
  };
  FakeSource source(s);
  HoldLedger ledger;
  (void)ledger.Hold(source);
  EXPECT_EQ(s.list_calls, kHoldPasses);
  ledger.ResumeAllHeld();
  for (const auto& [id, count] : s.suspend_count)
    EXPECT_EQ(count, 0) << id;
}

TEST(HoldLedger, ListFailuresHoldNothing) {
  for (int32_t result : {kJobListTooSmall, kJobListFailed}) {
    FakeSystem s = ThreeThreads();
    s.list_result = result;
    s.list_error = result == kJobListTooSmall ? 234 : 6;
    FakeSource source(s);
    HoldLedger ledger;
    ThreadControlOutcome o = ledger.Hold(source);
    EXPECT_EQ(o.result, result);
    EXPECT_EQ(o.last_error, s.list_error);
    EXPECT_EQ(ledger.HeldThreadCount(), 0u);
    EXPECT_EQ(s.suspend_count[10], 0);
  }
}

TEST(HoldLedger, EndedThreadsAreForgottenAndReported) {
  FakeSystem s = ThreeThreads();
  s.listed = {10, 11, 20, 99};  // 99 ended between the listing and the open
  FakeSource source(s);
  HoldLedger ledger;
  ThreadControlOutcome o = ledger.Hold(source);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(ledger.HeldThreadCount(), 3u);

  s.suspend_count.erase(11);  // killed while held
  o = ledger.Resume();
  EXPECT_EQ(o.last_error, 5u);
  EXPECT_EQ(ledger.HeldThreadCount(), 0u);
  EXPECT_EQ(s.suspend_count[10], 0);
}

TEST(HoldLedger, ReleasesEverythingWhenItGoes) {
  FakeSystem s = ThreeThreads();
  {
    FakeSource source(s);
    HoldLedger ledger;
    (void)ledger.Hold(source);
    (void)ledger.Hold(source);
    (void)ledger.Hold(source);
    (void)ledger.Resume();
    s.suspend_count[20] += 1;  // someone else's suspend stays
  }
  EXPECT_EQ(s.suspend_count[10], 0);
  EXPECT_EQ(s.suspend_count[11], 0);
  EXPECT_EQ(s.suspend_count[20], 1);
}

TEST(HoldLedger, ThreadResumedBehindItsBackIsDropped) {
  FakeSystem s = ThreeThreads();
  FakeSource source(s);
  HoldLedger ledger;
  (void)ledger.Hold(source);
  (void)ledger.Hold(source);
  s.suspend_count[10] = 0;  // the step resumed it itself
  (void)ledger.Resume();
  EXPECT_EQ(ledger.HoldCount(10), 0);
  EXPECT_EQ(ledger.HoldCount(11), 1);
  ledger.ResumeAllHeld();
  EXPECT_EQ(s.suspend_count[10], 0);
  EXPECT_EQ(s.suspend_count[11], 0);
}

}  // namespace
}  // namespace x5::mThread
