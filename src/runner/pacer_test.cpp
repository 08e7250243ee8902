// The file-check pacer: byte accounting, look intervals and the hold/kill conversation.
#include "runner/pacer.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace x5 {
namespace {

class FakeLink : public CommandLink {
 public:
  std::deque<OperatorCommand> pipe;
  int64_t peek_error = 0;
  int peeks = 0;
  int reports = 0;
  std::vector<int32_t> priorities;

  void Queue(const char* name, int32_t arg = 0) { pipe.push_back({name, arg}); }
  int64_t Peek(std::array<uint8_t, kOperatorCommandSize>& into) override {
    ++peeks;
    if (peek_error)
      return peek_error;
    if (pipe.empty())
      return 0;
    into = EncodeOperatorCommand(pipe.front().name, pipe.front().argument);
    return static_cast<int64_t>(pipe.size() * kOperatorCommandSize);
  }
  bool ReadCommand(OperatorCommand& c) override {
    if (pipe.empty())
      return false;
    c = pipe.front();
    pipe.pop_front();
    return true;
  }
  void SendReport() override { ++reports; }
  void StorePriority(int32_t p) override { priorities.push_back(p); }
};

struct Counters {
  int32_t kb = 0;
  int64_t io = 0;
  int64_t chunks = 0;
};

TEST(Pacer, CountsKilobytesRoundedUpAndLooksEveryInterval) {
  FakeLink link;
  Counters c;
  FileCheckPacer pacer(link, 32, c.kb, c.io, c.chunks);
  for (int i = 0; i < 64; ++i)
    EXPECT_TRUE(pacer.Poll(4096));
  EXPECT_TRUE(pacer.Poll(1));
  EXPECT_EQ(c.kb, 64 * 4 + 1);
  EXPECT_EQ(c.io, (64 * 4 + 1) * 10000);
  EXPECT_EQ(link.peeks, 2);
  // The counts belong to the run: a pacer for the next pass looks on the same interval.
  FileCheckPacer after_step(link, 32, c.kb, c.io, c.chunks);
  for (int i = 0; i < 31; ++i)
    EXPECT_TRUE(after_step.Poll(4096));
  EXPECT_EQ(link.peeks, 3);
}

TEST(Pacer, KillStopsTheCheckWithOneReport) {
  FakeLink link;
  Counters c;
  FileCheckPacer pacer(link, 1, c.kb, c.io, c.chunks);
  link.Queue("KILL");
  EXPECT_FALSE(pacer.Poll(1024));
  EXPECT_EQ(link.reports, 1);
  EXPECT_TRUE(link.pipe.empty());
}

TEST(Pacer, HoldAnswersEveryCommandUntilResumed) {
  FakeLink link;
  Counters c;
  FileCheckPacer pacer(link, 1, c.kb, c.io, c.chunks);
  link.Queue("STOP");
  link.Queue("STAT");
  link.Queue("PRTY", 41);
  link.Queue("STRT");
  link.Queue("STAT");
  EXPECT_TRUE(pacer.Poll(1024));
  // STOP, STAT and PRTY inside the hold, STRT through the pacer.
  EXPECT_EQ(link.reports, 4);
  EXPECT_EQ(link.priorities, std::vector<int32_t>{41});
  ASSERT_EQ(link.pipe.size(), 1u);  // the STAT after the hold waits for the next look
}

TEST(Pacer, KillDuringHoldStops) {
  FakeLink link;
  Counters c;
  FileCheckPacer pacer(link, 1, c.kb, c.io, c.chunks);
  link.Queue("STOP");
  link.Queue("KILL");
  EXPECT_FALSE(pacer.Poll(1024));
  EXPECT_EQ(link.reports, 2);
}

TEST(Pacer, ParentGoneDuringHoldDoesNotHang) {
  FakeLink link;
  Counters c;
  FileCheckPacer pacer(link, 1, c.kb, c.io, c.chunks);
  link.Queue("STOP");
  EXPECT_TRUE(pacer.Poll(1024));
}

TEST(Pacer, OtherCommandsOnlyReportAndPeekFailureGoesOn) {
  FakeLink link;
  Counters c;
  FileCheckPacer pacer(link, 1, c.kb, c.io, c.chunks);
  link.Queue("PRTY", 23);
  EXPECT_TRUE(pacer.Poll(10));
  EXPECT_EQ(link.priorities, std::vector<int32_t>{23});
  link.Queue("END ");
  EXPECT_TRUE(pacer.Poll(10));
  EXPECT_EQ(link.reports, 2);
  link.peek_error = -50;
  link.Queue("KILL");
  EXPECT_TRUE(pacer.Poll(10));
  EXPECT_EQ(link.reports, 2);
}

}  // namespace
}  // namespace x5
