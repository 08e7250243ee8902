// The conversation of `x5ctl run` against a scripted runner: ops, the END handshake, failures.
#include "conversation.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "fake_child.h"

namespace x5 {
namespace {

using testing::FakeChild;
using testing::FakeState;
using testing::PhaseReport;

std::vector<OpStep> Ops(std::initializer_list<const char*> lines) {
  std::vector<OpStep> ops;
  for (const char* line : lines)
    ops.push_back(*ParseOpLine(line).step);
  return ops;
}

// A runner whose step is running until the first END; the second END gets the final report.
testing::Responder StepThatEndsAfterFirstEnd(int& ends) {
  return [&ends](const OperatorCommand& c, FakeState& s) {
    if (c.name != "END ")
      return std::vector<ReportRecord>{PhaseReport(ends ? 4 : 2, ends ? "STEP OK" : "1")};
    if (++ends == 1)
      return std::vector<ReportRecord>{PhaseReport(2, "998")};
    s.output_closed = true;
    s.exit_code = 0;
    return std::vector<ReportRecord>{PhaseReport(5, "STEP OK", "done\r\n")};
  };
}

struct Outcome {
  int status = -1;
  ConversationResult result;
  std::string out;
  std::string errors;
  std::shared_ptr<FakeState> state;
};

Outcome Converse(std::function<void(FakeState&)> runner, OpSource& ops, bool json = false) {
  Outcome o;
  o.state = std::make_shared<FakeState>();
  o.state->on_input = std::move(runner);
  RunnerSession session(std::make_unique<FakeChild>(o.state));
  session.SetTimeout(std::chrono::milliseconds(5));
  std::ostringstream out, errors;
  ConversationOptions options;
  options.json = json;
  TaskRecord task = DefaultTaskRecord();
  TaskBlocks blocks{"cmd /c exit", "", ""};
  FillBlockLengths(task, blocks);
  o.result = RunConversation(session, EncodeTaskStream(task, blocks), ops, options, out, errors);
  o.status = o.result.RunStatus();
  o.out = out.str();
  o.errors = errors.str();
  return o;
}

std::vector<std::string> SentCommands(const FakeState& s) {
  std::vector<std::string> names;
  for (size_t pos = kTaskRecordSize + 11; pos + 8 <= s.from_parent.size(); pos += 8)
    names.push_back(s.from_parent.substr(pos, 4));
  return names;
}

Outcome Converse(testing::Responder respond, OpSource& ops, bool json = false) {
  return Converse(testing::ScriptedRunner(std::move(respond)), ops, json);
}

TEST(Conversation, OpsThenEndUntilPhaseFive) {
  int ends = 0;
  ListOpSource ops(Ops({"STAT", "sleep 1", "STAT"}));
  Outcome o = Converse(StepThatEndsAfterFirstEnd(ends), ops);
  EXPECT_EQ(o.status, 0) << o.errors;
  EXPECT_EQ(SentCommands(*o.state), (std::vector<std::string>{"STAT", "STAT", "END ", "END "}));
  EXPECT_NE(o.out.find("status  \"Started \""), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("report 4  phase 5 (END received)  status \"STEP OK \""), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("  | done\n"), std::string::npos);
  EXPECT_NE(o.out.find("runner exit code 0"), std::string::npos);
  EXPECT_TRUE(o.errors.empty()) << o.errors;
  ASSERT_TRUE(o.result.final_report);
  EXPECT_EQ(o.result.final_report->report.phase, 5);
  EXPECT_EQ(o.result.runner_exit_code, 0);
}

TEST(Conversation, AnEndThatFinishesStopsTheOps) {
  testing::Responder finish_at_once = [](const OperatorCommand&, FakeState& s) {
    s.output_closed = true;
    s.exit_code = 0;
    return std::vector<ReportRecord>{PhaseReport(5, "RC <>")};
  };
  ListOpSource ops(Ops({"END", "STAT", "STAT"}));
  Outcome o = Converse(finish_at_once, ops);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(SentCommands(*o.state), (std::vector<std::string>{"END "}));
  EXPECT_NE(o.errors.find("2 more commands are not sent"), std::string::npos) << o.errors;
}

TEST(Conversation, RunnerThatDiesIsReportedAndKilled) {
  testing::Responder dies = [](const OperatorCommand&, FakeState& s) {
    s.output_closed = true;
    return std::vector<ReportRecord>{};
  };
  ListOpSource ops(Ops({"STAT"}));
  Outcome o = Converse(dies, ops);
  EXPECT_EQ(o.result.end, ConversationEnd::kBrokeOff);
  EXPECT_NE(o.errors.find("operator command STAT: the runner closed its output"), std::string::npos)
      << o.errors;
  EXPECT_TRUE(o.state->killed);
}

TEST(Conversation, EndlessStepGivesUpAfterTheEndAttempts) {
  testing::Responder busy = [](const OperatorCommand&, FakeState&) {
    return std::vector<ReportRecord>{PhaseReport(2, "998")};
  };
  ListOpSource ops({});
  Outcome o = Converse(busy, ops);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(SentCommands(*o.state).size(), 8u);
  EXPECT_TRUE(o.state->killed);
}

TEST(Conversation, ClosingTheInputReadsWhatIsLeft) {
  auto scripted = testing::ScriptedRunner([](const OperatorCommand&, FakeState&) {
    return std::vector<ReportRecord>{PhaseReport(2, "1")};
  });
  ListOpSource ops(Ops({"STAT", "close"}));
  Outcome o = Converse(
      [scripted](FakeState& s) {
        scripted(s);
        if (s.input_closed && !s.output_closed) {
          // The runner takes the closed pipe as END: one final report, then it ends.
          testing::QueueReport(s, PhaseReport(5, "STEP OK"));
          s.output_closed = true;
          s.exit_code = 0;
        }
      },
      ops);
  EXPECT_EQ(o.result.end, ConversationEnd::kCompleted) << o.errors;
  EXPECT_EQ(SentCommands(*o.state), (std::vector<std::string>{"STAT"}));
  EXPECT_NE(o.out.find("input closed"), std::string::npos);
  EXPECT_NE(o.out.find("report 2  phase 5"), std::string::npos) << o.out;
}

TEST(Conversation, JsonModePrintsOneObjectPerRecord) {
  int ends = 0;
  ListOpSource ops(Ops({"KILL 5"}));
  Outcome o = Converse(StepThatEndsAfterFirstEnd(ends), ops, /*json=*/true);
  ASSERT_EQ(o.status, 0) << o.errors;
  std::istringstream lines(o.out);
  std::vector<std::string> kinds;
  std::string line;
  while (std::getline(lines, line))
    kinds.push_back(nlohmann::json::parse(line).at("record").get<std::string>());
  EXPECT_EQ(kinds, (std::vector<std::string>{"status", "command", "report", "command", "report",
                                             "command", "report", "exit"}));
}

TEST(Conversation, LineSourceSkipsCommentsAndReportsBadLines) {
  std::istringstream in("# ops\nSTAT\n\nSTATUS\nsleep 5\nKILL 9\n");
  std::ostringstream errors;
  LineOpSource source(in, errors);
  std::vector<OpStep> got;
  while (std::optional<OpStep> step = source.Next())
    got.push_back(*step);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].name, "STAT");
  EXPECT_EQ(got[1].kind, OpStep::Kind::kSleep);
  EXPECT_EQ(got[2].argument, 9);
  EXPECT_NE(errors.str().find("line 4"), std::string::npos) << errors.str();
}

}  // namespace
}  // namespace x5
