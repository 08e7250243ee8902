// The main sequence: the whole life of one runner, from the task record to "END " and cleanup.
#include "runner/main_sequence_win.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "commands/command_split.h"
#include "launch/launch_plan.h"
#include "launch/launch_win.h"
#include "pictures/capture_bounds.h"
#include "pictures/capture_win.h"
#include "runner/cleanup_win.h"
#include "runner/operator_commands_win.h"
#include "runner/pipe_win.h"
#include "runner/report_win.h"
#include "runner/run_win.h"
#include "runner/subsystems_win.h"

namespace x5::runner {
namespace {

int64_t LocalFileTimeNow() {
  FILETIME utc{};
  FILETIME local{};
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  return static_cast<int64_t>(uint64_t{local.dwHighDateTime} << 32 | local.dwLowDateTime);
}

std::string EnvironmentValue(const char* name) {
  char small[512];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof(small));
  if (n == 0)
    return {};
  if (n < sizeof(small))
    return std::string(small, n);
  std::string value(n, '\0');
  n = GetEnvironmentVariableA(name, value.data(), n);
  value.resize(n);
  return value;
}

void SetStatusText(Run& run, const char* text, int32_t code) {
  run.report.status_text = Padded(text, 8);
  run.report.status_code = code;
}

// The step must never hold the parent's pipes open (a step that lives on would keep the parent
// from seeing the end of them): it inherits only the console's handles.
void KeepPipesFromChildren(Run& run) {
  SetHandleInformation(run.input, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(run.output.get(), HANDLE_FLAG_INHERIT, 0);
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    SetHandleInformation(error, HANDLE_FLAG_INHERIT, 0);
  }
}

void ReadTask(Run& run) {
  PipeReader in(run.input);
  TaskBytes bytes{};
  (void)ReadFull(in, bytes);
  run.task = DecodeTaskRecord(bytes);
  run.program_files_x86 = EnvironmentValue("ProgramFiles(x86)");
  run.os_version = EffectiveOsVersion(run.task.os_version, run.program_files_x86);
  run.task.os_version = run.os_version;
  // Cut to 10 s: each picture waits this long, and a KILL waits for the pictures.
  run.picture_interval = pictures::BoundedPictureInterval(run.task.picture_interval);

  char delimiter = ';';
  run.command_text = ReadTextBlock(in, run.task.command_length, false, delimiter).text;
  run.conditions_text = ReadTextBlock(in, run.task.conditions_length, false, delimiter).text;
  run.variables_text = ReadTextBlock(in, run.task.variables_length, true, delimiter).text;
  run.list_delimiter = delimiter;

  StatusRecord started;
  started.status_text = "Started ";
  PipeWriter out(run.output.get());
  (void)WriteFull(out, EncodeStatusRecord(started));
}

// The step's launch: the plan from the task, carried out; what it made joins the run.
int32_t Launch(Run& run) {
  // Cut, the step would run another command than the one written.
  if (run.step_command.Size() > kLongestCommandLine) {
    (void)run.console.SendText(CommandTooLongLine(run.step_command.Size()));
    run.step.status_text = Padded("STEP=?", 8);
    run.step.status_code = kCommandTooLongCode;
    return 0;
  }
  const LaunchPlan plan = PlanLaunch(run.task, run.os_version, run.console_title);
  const VariableContext variables = VariablesOf(run);
  ContextExpander expander(variables);
  LaunchedStep launched = LaunchStep(plan,
                                     StepStart{std::move(run.step_command), run.variables,
                                               run.console.Input(), run.console.Output(), expander},
                                     run.identity);
  run.step = std::move(launched.record);
  run.job = std::move(launched.job);
  run.process = std::move(launched.process);
  run.thread = std::move(launched.thread);
  return launched.result;
}

// Steps 8 to 22: everything before the launch. False when the step will not run.
bool Prepare(Run& run) {
  run.rc.maximum_rc = run.task.maximum_rc;
  run.rc.task_rc = run.task.task_rc;
  run.rc.step_minimum_rc = run.task.step_minimum_rc;
  run.rc.step_maximum_rc = run.task.step_maximum_rc;
  run.pre_messages = SetupAbendMode(run.rc);
  run.limits = NormaliseFileCheckLimits(run.task);

  if (run.rc.maximum_rc == 0) {
    run.rc.result_flag = '-';
    run.final_flag = true;
    SetStatusText(run, "RC = 0", 0);
    run.pre_messages += "** ERROR - Maximum Return Code = 0 **";
    return false;
  }
  run.rc.result_flag = '+';

  run.console_title = BuildConsoleTitle(run.task);
  if (run.console.OpenConsole(run.console_title, run.os_version) != 1) {
    run.final_flag = true;
    SetStatusText(run, "CONSOLE?", 0);
    run.pre_messages += "** Unable to open console **";
    return false;
  }
  if (run.os_version < 4) {
    (void)SizeConsole(run.console.Output(), run.task.console_columns, run.task.console_rows);
    (void)MinimizeConsoleWindow(run.console_title);
  }
  // On every system, so the job log keeps what the step wrote (after the old systems' sizing,
  // which the task's geometry decides).
  (void)GrowJobLogBuffer(run.console.Output());

  SetStepVariables(run);
  run.condition_rules = ExpandVariables(run, run.conditions_text, kMaskPasswords, false);
  run.report.phase = 1;
  run.pre_messages += EvaluateConditions(run, 2);
  // After a KILL the operator has asked for the stop: the switches (edits, global parameters for
  // later steps, the printer report) are not carried out either.
  if (run.killed_in_checks) {
    run.pre_messages = ApplyRcRules(run.rc, std::move(run.pre_messages));
    run.final_flag = true;
    SetStatusText(run, "RC <>", 0);
    return false;
  }
  {
    // The line the step runs and the line that messages show come from one dispatch, each
    // expanded once more; only the first holds deciphered passwords.
    const DispatchedCommand dispatched = DispatchCommand(run, Trimmed(run.command_text), 2);
    run.step_command = ExpandVariables(run, dispatched.command_line, kMaskPasswords, false);
    run.step_command_shown = ExpandVariables(run, dispatched.shown, kMaskPasswords, false);
  }
  run.pre_messages = ApplyRcRules(run.rc, std::move(run.pre_messages));

  if (run.step_command.Empty()) {
    run.final_flag = true;
    SetStatusText(run, "Null CMD", 0);
    (void)run.console.SendText(NoCommandRc(run.rc));
    return false;
  }
  if (run.rc.result_flag != '+') {
    run.final_flag = true;
    SetStatusText(run, "RC <>", 0);
    return false;
  }

  (void)AddVariable(run, "X5RC", std::to_string(run.rc.step_rc_value));
  if (Launch(run) != 1) {
    std::string message;
    if (run.step.status_text == "LOGON ? ") {
      message = "***** INVALID LOGON  RC=99 *****\r\n";
    } else {
      message = "***** Error - Command  \"" + run.step_command_shown + "\"  " +
                run.step.status_text + " RC=" + std::to_string(run.step.status_code) + " *****\r\n";
    }
    (void)run.console.SendText(message);
    run.pre_messages += "\r\n" + message + "\r\n";
    if (run.rc.current_rc > 0)
      run.rc.current_rc = 99;
    run.final_flag = true;
    run.report.status_text = run.step.status_text;
    run.report.status_code = 0;
    return false;
  }
  run.step_times.Launched(run.clock.Now());
  return true;
}

// Steps 23 and 24: the step runs; the parent drives the runner with operator commands.
void Monitor(Run& run) {
  SetLaunchPriority(run, run.task.priority);
  // Now, while the step starts, rather than when a KILL names and pictures its windows.
  pictures::ConnectToWindowManager();
  run.report.phase = 2;
  for (;;) {
    run.last_wait_result = static_cast<int32_t>(WaitForSingleObject(run.process.get(), 0));
    if (run.last_wait_result != kStillRunning)
      break;
    run.report.report_text_length = 0;
    const std::optional<OperatorCommand> command = ReadOperatorCommand(run);
    if (!command) {
      // The parent is gone (a scheduler that restarts, a broken pipe): taken as "END ", so the
      // step's work is not lost with it. The step runs to its end, and the post-step checks, the
      // job log, the console file and the clean-up follow as always.
      run.holds.ResumeAllHeld();
      break;
    }
    if (CarryOutOperatorCommand(run, *command) == CommandOutcome::kLeaveMonitor)
      break;
    PictureRequest(run);
  }
}

// Steps 25 and 26: the step has ended (or is being waited for).
void Finish(Run& run) {
  run.final_flag = true;
  run.accounting_flag = true;
  if (run.rc.result_flag != '+')
    return;
  DWORD wait = WaitForSingleObject(run.process.get(), INFINITE);
  run.last_wait_result = static_cast<int32_t>(wait);
  run.report.status_code = static_cast<int32_t>(wait);
  if (wait == WAIT_OBJECT_0) {
    run.report.status_text = Padded("STEP OK", 8);
    // The status code stays the wait result; the step's own exit code travels beside it.
    DWORD exit_code = 0;
    if (GetExitCodeProcess(run.process.get(), &exit_code))
      run.report.step_exit_code = static_cast<int32_t>(exit_code);
  } else {
    DWORD exit_code = 0;
    GetExitCodeProcess(run.process.get(), &exit_code);
    run.report.status_code = static_cast<int32_t>(exit_code);
    run.accounting_flag = false;
    run.report.status_text = Padded("STEP ?", 8);
  }
  ReportAndAccount(run);
  run.report.phase = 3;
  if (run.killed) {
    if (run.job)
      TerminateJobObject(run.job.get(), 0);
  } else {
    SaveConsoleFile(run);
    run.post_messages = EvaluateConditions(run, 3);
  }
  run.post_messages = ApplyRcRules(run.rc, std::move(run.post_messages));
}

// Steps 27 to 30: final reports until "END ".
void FinalReports(Run& run) {
  run.report_text = run.pre_messages + run.post_messages;
  run.report.report_text_length = static_cast<int32_t>(run.report_text.size());
  FinalRcAdjustment(run.rc);
  run.report.end_time = LocalFileTimeNow();
  run.report.phase = 4;
  // A parent that is gone ends this as "END " would (ReadOperatorCommand does not block then).
  for (std::optional<OperatorCommand> command = ReadOperatorCommand(run);
       command && command->name != "END "; command = ReadOperatorCommand(run)) {
    WriteStepReport(run);
  }
  run.report.phase = 5;
  WriteStepReport(run);
}

// Steps 31 to 35.
void CleanUp(Run& run) {
  run.thread.reset();
  run.process.reset();
  run.step.process_id = 0;
  // Nothing the runner suspended may outlive it, whichever way the step ended.
  run.holds.ResumeAllHeld();
  {
    // Held open until they are ended, so no id named or pictured can pass to another process.
    const StepEnding ending = EndOfJobPictures(run, true);
    if (run.job)
      TerminateJobObject(run.job.get(), 0);
    WriteEndingLines(run, ending.lines);
  }
  run.job.reset();
  run.output.reset();
  SaveConsoleFile(run);
  const bool had_console = run.console.IsOpen();
  (void)run.console.CloseConsole();
  if (had_console) {
    if (HWND window = FindWindowA(nullptr, run.console_title.c_str())) {
      PostMessageA(window, WM_CLOSE, 1, 1);
      (void)IsWindow(window);
    }
  }
  UnloadStepProfile(run.identity);
}

}  // namespace

int RunMainSequence() {
  Run run;
  run.report.start_time = LocalFileTimeNow();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE)
    return 0;
  run.input = input;
  run.output.reset(GetStdHandle(STD_OUTPUT_HANDLE));
  KeepPipesFromChildren(run);

  ReadTask(run);
  run.name_fold = SystemNameFold();
  if (Prepare(run)) {
    Monitor(run);
    Finish(run);
  }
  FinalReports(run);
  CleanUp(run);
  return 0;
}

}  // namespace x5::runner
