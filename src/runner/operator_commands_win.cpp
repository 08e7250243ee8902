// Operator commands during the step: status, hold, resume, kill, priority, console dump.
#include "runner/operator_commands_win.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "protocol/operator_commands.h"
#include "protocol/status_texts.h"
#include "runner/cleanup_win.h"
#include "runner/diag.h"
#include "runner/job_win.h"
#include "runner/report_win.h"
#include "runner/run_win.h"

namespace x5 {
namespace {

struct Handled {
  int32_t report_code;
  std::string_view message;  // appended to the pre-step messages after the report; empty for none
  CommandOutcome outcome = CommandOutcome::kStayInMonitor;
  // What a KILL ended: the lines naming it are written, and its processes let go, after the
  // report (closing their handles waits behind the system's work of ending them).
  StepEnding ending = {};
};

constexpr int32_t kKeepCode = INT32_MIN;

Handled Stat(Run&, const OperatorCommand&) {
  return {1, {}};
}

Handled End(Run& run, const OperatorCommand&) {
  // The runner now waits for the step without a time limit: a held step would never end.
  run.step.holds.ResumeAllHeld();
  return {998, {}, CommandOutcome::kLeaveMonitor};
}

Handled Hold(Run& run, const OperatorCommand&) {
  const runner::ThreadControlOutcome outcome = run.step.Hold(run.inputs.os_version);
  return {static_cast<int32_t>(outcome.last_error), kHeldOnRequest};
}

Handled Resume(Run& run, const OperatorCommand&) {
  const runner::ThreadControlOutcome outcome = run.step.Resume(run.inputs.os_version);
  return {static_cast<int32_t>(outcome.last_error), kResumedOnRequest};
}

Handled Kill(Run& run, const OperatorCommand& command) {
  // Released first: windows of suspended threads cannot repaint for their pictures, and a held
  // step must not be left with suspended threads in other processes of the job.
  run.step.holds.ResumeAllHeld();
  // Held open until they are ended, so no id named or pictured can pass to another process.
  StepEnding ending = EndOfJobPictures(run, true);
  run.state.picture_interval = -1;
  // The rest of the tree ends now rather than after the job log is written.
  run.step.Kill(static_cast<uint32_t>(command.argument));
  // The lines naming what was ended change nothing in the report, so they follow it.
  return {999, kKilledOnRequest, CommandOutcome::kLeaveMonitor, std::move(ending)};
}

Handled Priority(Run& run, const OperatorCommand& command) {
  run.step.SetPriority(command.argument, run.inputs.os_version);
  return {kKeepCode, {}};
}

// The code read has no field in the step report and the next command replaces the argument it
// would have gone into, so nothing keeps it.
Handled GetPriority(Run& run, const OperatorCommand& command) {
  run.step.ReadPriority(command.argument, run.inputs.os_version);
  return {kKeepCode, {}};
}

Handled Diag(Run& run, const OperatorCommand& command) {
  run.diag_number = NextDiagNumber(run.diag_number, command.argument);
  if (auto file =
          DiagFileName(run.inputs.task, run.state.global_parameter_directory, run.diag_number)) {
    (void)SaveConsoleText(run.services.console.Output(), 0, *file,
                          run.services.console.FirstLine());
  }
  return {kKeepCode, {}};
}

// What each command of the protocol's table does here.
Handled CarryOut(OperatorCommandKind kind, Run& run, const OperatorCommand& command) {
  switch (kind) {
    case OperatorCommandKind::kStatus:
      return Stat(run, command);
    case OperatorCommandKind::kEnd:
      return End(run, command);
    case OperatorCommandKind::kHold:
      return Hold(run, command);
    case OperatorCommandKind::kResume:
      return Resume(run, command);
    case OperatorCommandKind::kKill:
      return Kill(run, command);
    case OperatorCommandKind::kSetPriority:
      return Priority(run, command);
    case OperatorCommandKind::kGetPriority:
      return GetPriority(run, command);
    case OperatorCommandKind::kDiagnostics:
      return Diag(run, command);
    case OperatorCommandKind::kUnknown:
      break;
  }
  return {9, {}};
}

}  // namespace

CommandOutcome CarryOutOperatorCommand(Run& run, const OperatorCommand& command) {
  Handled handled = CarryOut(KindOf(command.name), run, command);
  if (handled.report_code != kKeepCode)
    run.outcome.report_code = handled.report_code;
  ReportAndAccount(run);
  WriteEndingLines(run, handled.ending.lines);
  if (!handled.message.empty()) {
    run.outcome.pre_messages += "\r\n***** Task #" + std::to_string(run.step.record.process_id) +
                                std::string(handled.message) + "\r\n";
  }
  return handled.outcome;
}

void SetLaunchPriority(Run& run, int32_t priority) {
  (void)runner::SetStepPriority(run.step.process.get(), run.step.thread.get(), priority,
                                run.inputs.os_version);
}

}  // namespace x5
