// Operator commands during the step: status, hold, resume, kill, priority, console dump.
#include "runner/operator_commands_win.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/operator_commands.h"
#include "protocol/report_texts.h"
#include "protocol/status_texts.h"
#include "runner/cleanup_win.h"
#include "runner/diag.h"
#include "runner/report_win.h"
#include "runner/run_win.h"

namespace x5::runner {
namespace {

struct Handled {
  std::optional<ReportCode> report_code;  // none: the report keeps the code it had
  bool noted = false;  // the command's line goes into the pre-step messages after the report
  CommandOutcome outcome = CommandOutcome::kStayInMonitor;
  // What a KILL ended: the lines naming it are written, and its processes let go, after the
  // report (closing their handles waits behind the system's work of ending them).
  StepEnding ending = {};
};

// The codes the commands' reports carry.
constexpr ReportCode kStatCode{ReportCode::Kind::kCommand, 1};
constexpr ReportCode kUnknownCode{ReportCode::Kind::kCommand, 9};
constexpr ReportCode kEndCode{ReportCode::Kind::kCommand, 998};
constexpr ReportCode kKillCode{ReportCode::Kind::kCommand, 999};

// A HOLD or RESUME reports the system error code of the last call that failed, 0 when all went
// through.
ReportCode HoldCode(const core::Result<void>& outcome) {
  return {ReportCode::Kind::kSystemError,
          outcome ? 0 : static_cast<int32_t>(outcome.failure().system_code)};
}

Handled Stat() {
  return {kStatCode, false};
}

Handled End(StepProcess& step) {
  // The runner now waits for the step without a time limit: a held step would never end.
  step.ResumeAllHeld();
  return {kEndCode, false, CommandOutcome::kLeaveMonitor};
}

Handled Hold(StepProcess& step) {
  return {HoldCode(step.Hold()), true};
}

Handled Resume(StepProcess& step) {
  return {HoldCode(step.Resume()), true};
}

Handled Kill(StepProcess& step,
             const RunInputs& inputs,
             sequence::StepState& state,
             const protocol::OperatorCommand& command) {
  // Released first: windows of suspended threads cannot repaint for their pictures, and a held
  // step must not be left with suspended threads in other processes of the job.
  step.ResumeAllHeld();
  // Held open until they are ended, so no id named or pictured can pass to another process.
  StepEnding ending = EndOfJobPictures(inputs, step, state, PictureOccasion::kKilledAtEnd);
  state.switches.picture_interval = -1;
  // The rest of the tree ends now rather than after the job log is written.
  step.Kill(static_cast<uint32_t>(command.argument));
  // The lines naming what was ended change nothing in the report, so they follow it.
  return {kKillCode, true, CommandOutcome::kLeaveMonitor, std::move(ending)};
}

Handled Priority(StepProcess& step,
                 const RunInputs& inputs,
                 const protocol::OperatorCommand& command) {
  step.SetPriority(command.argument, inputs.os_level);
  return {std::nullopt, false};
}

// The code read has no field in the step report and the next command replaces the argument it
// would have gone into, so nothing keeps it.
Handled GetPriority(StepProcess& step, const protocol::OperatorCommand& command) {
  step.ReadPriority(command.argument);
  return {std::nullopt, false};
}

Handled Diag(int32_t& diag_number,
             const RunInputs& inputs,
             const sequence::StepState& state,
             console::Console& console,
             const protocol::OperatorCommand& command) {
  diag_number = NextDiagNumber(diag_number, command.argument);
  // The report has no field for a DIAG file that could not be saved; a link refused says so on
  // the console.
  if (auto file = DiagFileName(inputs.task, state.global_parameter_directory, diag_number))
    (void)console.SaveText(*file, false);
  return {std::nullopt, false};
}

// What each command of the protocol's table does here.
Handled CarryOut(protocol::OperatorCommandKind kind,
                 Run& run,
                 const protocol::OperatorCommand& command) {
  switch (kind) {
    case protocol::OperatorCommandKind::kStatus:
      return Stat();
    case protocol::OperatorCommandKind::kEnd:
      return End(run.step);
    case protocol::OperatorCommandKind::kHold:
      return Hold(run.step);
    case protocol::OperatorCommandKind::kResume:
      return Resume(run.step);
    case protocol::OperatorCommandKind::kKill:
      return Kill(run.step, run.inputs, run.state, command);
    case protocol::OperatorCommandKind::kSetPriority:
      return Priority(run.step, run.inputs, command);
    case protocol::OperatorCommandKind::kGetPriority:
      return GetPriority(run.step, command);
    case protocol::OperatorCommandKind::kDiagnostics:
      return Diag(run.diag_number, run.inputs, run.state, run.services.console, command);
    case protocol::OperatorCommandKind::kUnknown:
      break;
  }
  return {kUnknownCode, false};
}

}  // namespace

CommandOutcome CarryOutOperatorCommand(Run& run, const protocol::OperatorCommand& command) {
  const protocol::OperatorCommandKind kind = protocol::KindOf(command.name);
  Handled handled = CarryOut(kind, run, command);
  if (handled.report_code)
    run.outcome.report_code = *handled.report_code;
  ReportStep(run.inputs, run.step, run.outcome, run.services);
  WriteEndingLines(run.services.console, handled.ending.lines);
  if (handled.noted)
    run.outcome.decided.pre_messages += protocol::OperatorLine(kind, run.step.record.process_id);
  return handled.outcome;
}

}  // namespace x5::runner
