// The conversation of `x5ctl run` against a scripted runner: ops, the END handshake, failures.
#include "x5ctl/step/conversation.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "x5ctl/testing/fake_child.h"

namespace x5::ctl::step {
namespace {

using testing::FakeState;
using testing::PhaseReport;
using testing::Responder;
using Reports = std::vector<ReportRecord>;

std::vector<text::OpStep> Ops(std::initializer_list<const char*> lines) {
  std::vector<text::OpStep> ops;
  for (const char* line : lines)
    ops.push_back(**text::ParseOpLine(line));
  return ops;
}

// A runner whose step is running until the first END; the second END gets the final report.
testing::Responder StepThatEndsAfterFirstEnd() {
  return [ends = 0](const protocol::OperatorCommand& c, testing::FakeState& s) mutable {
    if (c.name != "END ")
      return Reports{testing::PhaseReport(ends ? 4 : 2, ends ? "STEP OK" : "1")};
    if (++ends == 1)
      return Reports{testing::PhaseReport(2, "998")};
    s.output_closed = true;
    s.exit_code = 0;
    return Reports{testing::PhaseReport(5, "STEP OK", "done\r\n")};
  };
}

struct Outcome {
  ConversationResult result;
  std::string out;
  std::string errors;
  std::shared_ptr<testing::FakeState> state;
  std::vector<std::string> sent;  // operator command names, in order
};

const text::TaskBlocks kBlocks{"cmd /c exit", "", ""};

// `respond` answers each command; `after_input` also sees each write and the close of input.
Outcome Converse(const testing::Responder& respond,
                 std::initializer_list<const char*> op_lines,
                 bool json = false,
                 std::function<void(testing::FakeState&)> after_input = {}) {
  protocol::TaskRecord task = text::DefaultTaskRecord();
  text::FillBlockLengths(task, kBlocks);
  const std::vector<uint8_t> stream = text::EncodeTaskStream(task, kBlocks);
  Outcome o;
  o.state = std::make_shared<testing::FakeState>();
  o.state->on_input = [scripted = testing::ScriptedRunner(respond, stream.size()),
                       after_input](testing::FakeState& s) {
    scripted(s);
    if (after_input)
      after_input(s);
  };
  RunnerSession session(std::make_unique<testing::FakeChild>(o.state));
  session.SetTimeout(std::chrono::milliseconds(5));
  std::ostringstream out, errors;
  ConversationOptions options;
  options.json = json;
  ListOpSource ops(Ops(op_lines));
  o.result = RunConversation(session, stream, ops, options, out, errors);
  o.out = out.str();
  o.errors = errors.str();
  for (size_t pos = stream.size(); pos + 8 <= o.state->from_parent.size(); pos += 8)
    o.sent.push_back(o.state->from_parent.substr(pos, 4));
  return o;
}

TEST(Conversation, OpsThenEndUntilPhaseFive) {
  Outcome o = Converse(StepThatEndsAfterFirstEnd(), {"STAT", "sleep 1", "STAT"});
  EXPECT_EQ(o.result.RunStatus(), 0) << o.errors;
  EXPECT_EQ(o.sent, (std::vector<std::string>{"STAT", "STAT", "END ", "END "}));
  EXPECT_NE(o.out.find("status  \"Started \""), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("report 4  phase 5 (END received)  status \"STEP OK \""), std::string::npos)
      << o.out;
  EXPECT_TRUE(o.errors.empty()) << o.errors;

  // The same in JSON: one object per record.
  std::istringstream lines(Converse(StepThatEndsAfterFirstEnd(), {"KILL 5"}, true).out);
  std::vector<std::string> kinds;
  for (std::string line; std::getline(lines, line);)
    kinds.push_back(nlohmann::json::parse(line).at("record").get<std::string>());
  EXPECT_EQ(kinds, (std::vector<std::string>{"status", "command", "report", "command", "report",
                                             "command", "report", "exit"}));
}

TEST(Conversation, AnEndThatFinishesStopsTheOps) {
  testing::Responder finish_at_once = [](const protocol::OperatorCommand&, testing::FakeState& s) {
    s.output_closed = true;
    s.exit_code = 0;
    return Reports{testing::PhaseReport(5, "RC <>")};
  };
  Outcome o = Converse(finish_at_once, {"END", "STAT", "STAT"});
  EXPECT_EQ(o.result.RunStatus(), 0);
  EXPECT_EQ(o.sent, (std::vector<std::string>{"END "}));
  EXPECT_NE(o.errors.find("2 more commands are not sent"), std::string::npos) << o.errors;
}

TEST(Conversation, RunnerThatDiesIsReportedAndKilled) {
  testing::Responder dies = [](const protocol::OperatorCommand&, testing::FakeState& s) {
    s.output_closed = true;
    return Reports{};
  };
  Outcome o = Converse(dies, {"STAT"});
  EXPECT_EQ(o.result.end, ConversationEnd::kBrokeOff);
  EXPECT_NE(o.errors.find("operator command STAT: the runner closed its output"), std::string::npos)
      << o.errors;
  EXPECT_TRUE(o.state->killed);
}

TEST(Conversation, EndlessStepGivesUpAfterTheEndAttempts) {
  Outcome o = Converse([](const protocol::OperatorCommand&,
                          testing::FakeState&) { return Reports{testing::PhaseReport(2, "998")}; },
                       {});
  EXPECT_EQ(o.result.RunStatus(), 1);
  EXPECT_EQ(o.sent.size(), 8u);
  EXPECT_TRUE(o.state->killed);
}

TEST(Conversation, ClosingTheInputReadsWhatIsLeft) {
  // The runner takes the closed pipe as END: one final report, then it ends.
  auto ends_on_close = [](testing::FakeState& s) {
    if (s.input_closed && !s.output_closed) {
      testing::QueueReport(s, testing::PhaseReport(5, "STEP OK"));
      s.output_closed = true;
      s.exit_code = 0;
    }
  };
  Outcome o = Converse([](const protocol::OperatorCommand&,
                          testing::FakeState&) { return Reports{testing::PhaseReport(2, "1")}; },
                       {"STAT", "close"}, false, ends_on_close);
  EXPECT_EQ(o.result.end, ConversationEnd::kCompleted) << o.errors;
  EXPECT_EQ(o.sent, (std::vector<std::string>{"STAT"}));
  EXPECT_NE(o.out.find("input closed"), std::string::npos);
  EXPECT_NE(o.out.find("report 2  phase 5"), std::string::npos) << o.out;
}

}  // namespace
}  // namespace x5::ctl::step
