// The hold ledger over a simulated set of threads: counts, late threads, failures, release-all.
#include "runner/thread_hold.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace x5::runner {
namespace {

using Counts = std::map<uint32_t, int64_t>;

// One thread of a FakeSystem's counts; -5 (access denied) once the thread has ended.
class FakeThread final : public HeldThread {
 public:
  FakeThread(Counts& counts, uint32_t id) : counts_(counts), id_(id) {}
  core::Result<int64_t> Suspend() noexcept override {
    auto it = counts_.find(id_);
    return it == counts_.end() ? Ended() : it->second++;
  }
  core::Result<int64_t> Resume() noexcept override {
    auto it = counts_.find(id_);
    return it == counts_.end() ? Ended() : it->second > 0 ? it->second-- : 0;
  }
  static core::Result<int64_t> Ended() { return core::Failure{{}, 5}; }

 private:
  Counts& counts_;
  uint32_t id_;
};

// A system of threads with real suspend counts, as the kernel keeps them: three live threads of
// the step, listed, none suspended.
struct FakeSystem final : ThreadSource {
  Counts suspend_count = {{10, 0}, {11, 0}, {20, 0}};  // live threads
  std::vector<uint32_t> listed = {10, 11, 20};         // what the next List() shows
  uint32_t list_error = 0;                             // fails with it when set
  int list_calls = 0;
  // Runs after each listing, e.g. to start a new thread while a hold walks the job.
  std::function<void(int)> after_list;

  core::Result<std::vector<uint32_t>> List() override {
    core::Result<std::vector<uint32_t>> listing =
        list_error != 0 ? core::Result<std::vector<uint32_t>>(core::Failure{{}, list_error})
                        : listed;
    if (after_list)
      after_list(list_calls);
    ++list_calls;
    return listing;
  }
  std::unique_ptr<HeldThread> Open(uint32_t id) override {
    return suspend_count.contains(id) ? std::make_unique<FakeThread>(suspend_count, id) : nullptr;
  }
};

class HoldLedgerTest : public testing::Test {
 protected:
  FakeSystem s;
  HoldLedger ledger;
};

// Each hold needs its own resume; a thread the step resumed itself is not resumed again.
TEST_F(HoldLedgerTest, EachHoldNeedsAResumeAndNoneIsResumedMoreThanHeld) {
  EXPECT_TRUE(ledger.Hold(s));
  EXPECT_TRUE(ledger.Hold(s));
  EXPECT_EQ(s.suspend_count, (Counts{{10, 2}, {11, 2}, {20, 2}}));
  s.suspend_count[10] = 0;  // behind the ledger's back
  EXPECT_TRUE(ledger.Resume());
  EXPECT_EQ(s.suspend_count, (Counts{{10, 0}, {11, 1}, {20, 1}}));
  (void)ledger.Resume();
  (void)ledger.Resume();
  EXPECT_EQ(s.suspend_count, (Counts{{10, 0}, {11, 0}, {20, 0}}));
  EXPECT_EQ(ledger.HeldThreadCount(), 0u);
}

TEST_F(HoldLedgerTest, ThreadsStartedDuringTheHoldAreHeldToo) {
  // A process of the job starts a thread (30) while the first pass suspends the others, and one
  // more (31) during the second pass.
  s.after_list = [&](int call) {
    if (call < 2) {
      s.suspend_count[30 + call] = 0;
      s.listed.push_back(30 + call);
    }
  };
  (void)ledger.Hold(s);
  EXPECT_EQ(s.suspend_count, (Counts{{10, 1}, {11, 1}, {20, 1}, {30, 1}, {31, 1}}));
  EXPECT_EQ(s.list_calls, 4);  // the last pass found nothing new
}

TEST_F(HoldLedgerTest, PassesAreBounded) {
  uint32_t next = 100;
  s.after_list = [&](int) {  // a step that starts threads faster than they can be held
    s.suspend_count[next] = 0;
    s.listed.push_back(next++);
  };
  (void)ledger.Hold(s);
  EXPECT_EQ(s.list_calls, kHoldPasses);
  ledger.ResumeAllHeld();
  for (const auto& [id, count] : s.suspend_count)
    EXPECT_EQ(count, 0) << id;
}

TEST_F(HoldLedgerTest, ListFailuresHoldNothing) {
  s.list_error = 6;
  const core::Result<void> held = ledger.Hold(s);
  EXPECT_EQ(held ? 0u : held.failure().system_code, 6u);
  EXPECT_EQ(s.suspend_count[10], 0);
}

TEST_F(HoldLedgerTest, EndedThreadsAreForgottenAndReported) {
  s.listed = {10, 11, 20, 99};  // 99 ended between the listing and the open
  EXPECT_TRUE(ledger.Hold(s));
  EXPECT_EQ(ledger.HeldThreadCount(), 3u);
  s.suspend_count.erase(11);  // killed while held
  const core::Result<void> resumed = ledger.Resume();
  EXPECT_EQ(resumed ? 0u : resumed.failure().system_code, 5u);
  EXPECT_EQ(ledger.HeldThreadCount(), 0u);
  EXPECT_EQ(s.suspend_count[10], 0);
}

TEST_F(HoldLedgerTest, ReleasesEverythingWhenItGoes) {
  {
    HoldLedger held;
    for (int i = 0; i < 3; ++i)
      (void)held.Hold(s);
    (void)held.Resume();
    s.suspend_count[20] += 1;  // someone else's suspend stays
  }
  EXPECT_EQ(s.suspend_count, (Counts{{10, 0}, {11, 0}, {20, 1}}));
}

}  // namespace
}  // namespace x5::runner
