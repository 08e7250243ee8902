// The file-check pacer: byte accounting, look intervals and the hold/kill conversation.
#include "runner/pacer.h"

#include <gtest/gtest.h>

#include <deque>
#include <tuple>
#include <vector>

namespace x5::runner {
namespace {

class FakeLink : public CommandLink {
 public:
  std::deque<protocol::OperatorCommand> pipe;
  int64_t peek_error = 0;
  int peeks = 0;
  int reports = 0;
  std::vector<int32_t> priorities;

  core::Result<int64_t> Peek(std::array<uint8_t, protocol::kOperatorCommandSize>& into) override {
    ++peeks;
    if (peek_error)
      return core::Failure{{}, static_cast<uint32_t>(-peek_error)};
    if (pipe.empty())
      return 0;
    into = protocol::EncodeOperatorCommand(pipe.front().name, pipe.front().argument);
    return static_cast<int64_t>(pipe.size() * protocol::kOperatorCommandSize);
  }
  bool ReadCommand(protocol::OperatorCommand& c) override {
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

// One look with the given commands waiting: whether the check goes on, the reports sent and the
// priorities stored, and how many commands are left for the next look.
TEST(Pacer, CommandsAtALook) {
  const struct {
    const char* name;
    std::vector<protocol::OperatorCommand> queued;
    bool goes_on;
    int reports;
    std::vector<int32_t> priorities;
    size_t left;
    int64_t peek_error = 0;
  } cases[] = {
      {"kill stops with one report", {{"KILL", 0}}, false, 1, {}, 0},
      // STOP, STAT and PRTY inside the hold, STRT through the pacer; the STAT after the hold
      // waits for the next look.
      {"hold answers every command until resumed",
       {{"STOP", 0}, {"STAT", 0}, {"PRTY", 41}, {"STRT", 0}, {"STAT", 0}},
       true,
       4,
       {41},
       1},
      {"kill during a hold stops", {{"STOP", 0}, {"KILL", 0}}, false, 2, {}, 0},
      {"parent gone during a hold does not hang", {{"STOP", 0}}, true, 2, {}, 0},
      {"other commands only report", {{"END ", 0}}, true, 1, {}, 0},
      {"a failed look goes on", {{"KILL", 0}}, true, 0, {}, 1, -50},
  };
  for (const auto& c : cases) {
    FakeLink link;
    Counters n;
    FileCheckPacer pacer(link, 1, n.kb, n.io, n.chunks);
    link.pipe.assign(c.queued.begin(), c.queued.end());
    link.peek_error = c.peek_error;
    const bool goes_on = pacer.Poll(1024);
    // Only a KILL stops a check; the runner then carries out nothing more of the step.
    EXPECT_EQ(std::tuple(goes_on, pacer.Killed(), link.reports, link.priorities, link.pipe.size()),
              std::tuple(c.goes_on, !c.goes_on, c.reports, c.priorities, c.left))
        << c.name;
  }
}

}  // namespace
}  // namespace x5::runner
