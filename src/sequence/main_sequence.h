// The main sequence's decisions, one place for the runner and for `x5ctl check`: abend mode and
// limits from the task, the early ends before the launch ("RC = 0", "CONSOLE?", "RC <>",
// "Null CMD", a command too long to start, a failed launch), X5RC, the step's end, the report
// text and the final adjustments. Each driver carries out the stages through `World`: the runner
// with its real services, the check with a world that only reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conditions/rule_language.h"
#include "core/rc_rules.h"
#include "protocol/protocol.h"
#include "protocol/task_values.h"

namespace x5::sequence {

using conditions::Pass;

// How the steps before the launch ended: only kRuns leaves a step running.
enum class Decision {
  kRuns,
  kMaximumRcZero,   // "RC = 0": refused before anything else
  kNoConsole,       // "CONSOLE?"
  kKilledInChecks,  // "RC <>": a KILL stopped the rules before the step
  kNoCommand,       // "Null CMD"
  kNotRun,          // "RC <>": the RC rules skipped the step or ended the job
  kCommandTooLong,  // "STEP=?" with kCommandTooLongCode: refused, never started cut
  kNotStarted,      // the launch failed ("STEP=?", "LOGON ?", ...)
};

// The command line left after the switches.
struct Command {
  size_t length = 0;  // of the line the step would run
  std::string shown;  // passwords masked, for messages
};

// The launch's own status text (padded or not) and code.
struct Launched {
  bool started = false;
  std::string status_text;
  int32_t status_code = 0;
};

// What the sequence asks of the run it drives, in the order it asks.
class World {
 public:
  virtual ~World() = default;
  // The job log; false when it cannot be opened.
  virtual bool OpenConsole() = 0;
  // Defines the step variables and expands the condition rules with them.
  virtual void SetStepVariables() = 0;
  // Evaluates one pass of the rules; their messages for the report text.
  virtual std::string EvaluateRules(Pass pass) = 0;
  // Whether an operator's KILL stopped the rules before the step.
  virtual bool KilledInChecks() = 0;
  // Carries out the command's switches; the command line left.
  virtual Command DispatchCommand() = 0;
  virtual void AddVariable(std::string_view name, std::string_view value) = 0;
  // Starts the step with the command line DispatchCommand left.
  virtual Launched Launch() = 0;
  // Writes a text to the job log; `text` carries its own line ends.
  virtual void ConsoleText(std::string_view text) = 0;
  // The status text (trimmed or padded) and code the reports carry from here on; no code keeps the
  // one they carry.
  virtual void SetStatus(std::string_view text, std::optional<int32_t> code) = 0;
  // Saves the job log into the task's console file, after the step; false when it could not be
  // written (with nothing to save it is true).
  [[nodiscard]] virtual bool SaveConsoleFile() = 0;
  // Told after each application of the RC rules: how the stage ended, what the rules decided and
  // the messages they added.
  virtual void Decided(Pass /*pass*/,
                       Decision /*decision*/,
                       core::RcDecision /*rules*/,
                       std::string_view /*message*/) {}
};

// The return-code state and the messages of the report text.
struct Outcome {
  core::RcState rc;
  std::string pre_messages;   // before the step
  std::string post_messages;  // after it
};

// The outcome's start from the task: its RC limits, abend mode and the abend warning.
[[nodiscard]] Outcome StartOutcome(const protocol::TaskRecord& task);

// Everything before the launch, up to and including it.
Decision BeforeStep(World& world, Outcome& outcome);

// The status of a step that ended: "STEP OK" with the wait's result when waiting for it
// succeeded, else "STEP ?" with its exit code.
void StepEnded(World& world, bool waited, int32_t wait_result, int32_t exit_code);

// After the step: the job log saved ("FILE ?" when it could not be) and the rules after the step
// (neither after a KILL), then the RC rules on what they found.
void AfterStep(World& world, Outcome& outcome, bool killed);

// Before the final reports: the report text, and the final adjustment of flag and RC.
std::string FinalReportText(Outcome& outcome);

// The report text's line for a launch that failed.
std::string LaunchFailedMessage(const Launched& launch, std::string_view shown);

}  // namespace x5::sequence
