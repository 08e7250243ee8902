// The main sequence's decisions, carried out over a driver's world.
#include "sequence/main_sequence.h"

#include "commands/command_split.h"
#include "protocol/report_texts.h"
#include "protocol/status_texts.h"

namespace x5::sequence {
namespace {

// Applies the RC rules to `messages` and tells the world what they added.
void ApplyRules(World& world,
                core::RcState& rc,
                std::string& messages,
                Pass pass,
                Decision decision) {
  const core::RcDecision rules = core::ApplyRcRules(rc);
  const std::string said = protocol::RcRulesMessage(rules, rc);
  messages += said;
  world.Decided(pass, decision, rules, said);
}

}  // namespace

Outcome StartOutcome(const protocol::TaskRecord& task) {
  Outcome outcome;
  outcome.rc.maximum_rc = task.maximum_rc;
  outcome.rc.task_rc = task.task_rc;
  outcome.rc.step_minimum_rc = task.step_minimum_rc;
  outcome.rc.step_maximum_rc = task.step_maximum_rc;
  if (core::SetupAbendMode(outcome.rc))
    outcome.pre_messages = protocol::AbendModeWarning(outcome.rc.task_rc);
  return outcome;
}

Decision BeforeStep(World& world, Outcome& outcome) {
  core::RcState& rc = outcome.rc;
  std::string& messages = outcome.pre_messages;
  if (rc.maximum_rc == 0) {
    rc.result_flag = core::ResultFlag::kStopped;
    world.SetStatus(protocol::kStatusMaximumRcZero, 0);
    messages += protocol::kMaximumRcZeroMessage;
    return Decision::kMaximumRcZero;
  }
  rc.result_flag = core::ResultFlag::kGoesOn;

  if (!world.OpenConsole()) {
    world.SetStatus(protocol::kStatusNoConsole, 0);
    messages += protocol::kNoConsoleMessage;
    return Decision::kNoConsole;
  }
  world.SetStepVariables();
  messages += world.EvaluateRules(Pass::kBeforeStep);
  // After a KILL the operator has asked for the stop: the switches (edits, global parameters for
  // later steps, the printer report) are not carried out either.
  if (world.KilledInChecks()) {
    ApplyRules(world, rc, messages, Pass::kBeforeStep, Decision::kKilledInChecks);
    world.SetStatus(protocol::kStatusNotRun, 0);
    return Decision::kKilledInChecks;
  }
  const Command command = world.DispatchCommand();
  const core::RcDecision rules = core::ApplyRcRules(rc);
  const std::string rules_said = protocol::RcRulesMessage(rules, rc);
  messages += rules_said;

  if (command.length == 0) {
    world.SetStatus(protocol::kStatusNoCommand, 0);
    const bool raised = core::NoCommandRc(rc);
    const std::string line = protocol::NoCommandLine(rc.current_rc, raised);
    world.Decided(Pass::kBeforeStep, Decision::kNoCommand, rules, rules_said);
    world.ConsoleText(line);
    return Decision::kNoCommand;
  }
  if (rc.result_flag != core::ResultFlag::kGoesOn) {
    world.Decided(Pass::kBeforeStep, Decision::kNotRun, rules, rules_said);
    world.SetStatus(protocol::kStatusNotRun, 0);
    return Decision::kNotRun;
  }

  world.AddVariable("X5RC", std::to_string(rc.step_rc_value));
  Decision decision = Decision::kRuns;
  Launched launched;
  if (command.length > commands::kLongestCommandLine) {
    // Cut, the step would run another command than the one written.
    world.ConsoleText(protocol::CommandTooLongLine(command.length, commands::kLongestCommandLine));
    launched =
        Launched{false, std::string(protocol::kStatusNotStarted), commands::kCommandTooLongCode};
    decision = Decision::kCommandTooLong;
  } else {
    launched = world.Launch();
    if (!launched.started)
      decision = Decision::kNotStarted;
  }
  if (!launched.started) {
    const std::string message = LaunchFailedMessage(launched, command.shown);
    world.ConsoleText(message);
    messages += "\r\n" + message + "\r\n";
    if (rc.current_rc > 0)
      rc.current_rc = 99;
    world.SetStatus(launched.status_text, 0);
  }
  world.Decided(Pass::kBeforeStep, decision, rules, rules_said);
  return decision;
}

void StepEnded(World& world, bool waited, int32_t wait_result, int32_t exit_code) {
  // A step waited for keeps the wait's result as its code; its exit code travels beside it.
  if (waited)
    world.SetStatus(protocol::kStatusStepOk, wait_result);
  else
    world.SetStatus(protocol::kStatusStepWaitFailed, exit_code);
}

void AfterStep(World& world, Outcome& outcome, bool killed) {
  if (!killed) {
    if (!world.SaveConsoleFile())
      world.SetStatus(protocol::kStatusConsoleFileFailed, std::nullopt);
    outcome.post_messages += world.EvaluateRules(Pass::kAfterStep);
  }
  ApplyRules(world, outcome.rc, outcome.post_messages, Pass::kAfterStep, Decision::kRuns);
}

std::string FinalReportText(Outcome& outcome) {
  std::string text = outcome.pre_messages + outcome.post_messages;
  core::FinalRcAdjustment(outcome.rc);
  return text;
}

std::string LaunchFailedMessage(const Launched& launch, std::string_view shown) {
  if (protocol::Trimmed(launch.status_text) == protocol::kStatusLogonFailed)
    return std::string(protocol::kInvalidLogonMessage);
  return protocol::LaunchFailedLine(shown, launch.status_text, launch.status_code);
}

}  // namespace x5::sequence
