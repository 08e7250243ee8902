// The main sequence's ends that only the real machine reaches (no console, a KILL during the rules,
// a failed logon), over a world that records what the sequence asked of it. The ends both drivers
// reach run through the runner and `x5ctl check` in tests/e2e/main_sequence_e2e.cpp.
#include "sequence/main_sequence.h"

#include <gtest/gtest.h>

namespace x5::sequence {
namespace {

class RecordingWorld final : public World {
 public:
  bool OpenConsole() override { return console_opens; }
  void SetStepVariables() override { asked += "variables;"; }
  std::string EvaluateRules(Pass) override { return "-1 RC=3     rule\r\n"; }
  bool KilledInChecks() override { return killed; }
  Command DispatchCommand() override {
    asked += "switches;";
    return Command{4, "step"};
  }
  void AddVariable(std::string_view name, std::string_view) override {
    asked += std::string(name) + ";";
  }
  Launched Launch() override {
    asked += "launch;";
    return launch;
  }
  void ConsoleText(std::string_view text) override { console += text; }
  void SetStatus(std::string_view text, std::optional<int32_t>) override { status = text; }
  bool SaveConsoleFile() override { return true; }

  bool console_opens = true;
  bool killed = false;
  Launched launch{true, "STEP OK ", 1};
  std::string asked;
  std::string console;
  std::string status;
};

TEST(Sequence, EndsOnlyTheRealMachineReaches) {
  const struct {
    bool console_opens, killed;
    Launched launch;
    Decision decision;
    std::string left;  // status | current RC | what was asked | report text
  } cases[] = {
      {false, false, {}, Decision::kNoConsole, "CONSOLE?|0||** Unable to open console **"},
      // The switches are not carried out after the operator asked for the stop.
      {true, true, {}, Decision::kKilledInChecks, "RC <>|1|variables;|-1 RC=3     rule\r\n"},
      {true,
       false,
       {false, "LOGON ? ", 0},
       Decision::kNotStarted,
       "LOGON ?|99|variables;switches;X5RC;launch;|-1 RC=3     rule\r\n\r\n***** INVALID LOGON  "
       "RC=99 *****\r\n\r\n"},
  };
  for (const auto& c : cases) {
    RecordingWorld world;
    world.console_opens = c.console_opens;
    world.killed = c.killed;
    world.launch = c.launch;
    protocol::TaskRecord task;
    task.maximum_rc = 4;
    task.task_rc = task.step_minimum_rc = 1;
    task.step_maximum_rc = 4;
    Outcome outcome = StartOutcome(task);
    EXPECT_EQ(BeforeStep(world, outcome), c.decision) << c.left;
    EXPECT_EQ(std::string(protocol::Trimmed(world.status)) + "|" +
                  std::to_string(outcome.rc.current_rc) + "|" + world.asked + "|" +
                  FinalReportText(outcome),
              c.left);
  }
}

}  // namespace
}  // namespace x5::sequence
