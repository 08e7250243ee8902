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
#include "protocol/operator_commands.h"
#include "protocol/status_texts.h"
#include "runner/cleanup_win.h"
#include "runner/operator_commands_win.h"
#include "runner/pipe_win.h"
#include "runner/report_win.h"
#include "runner/run_win.h"
#include "runner/subsystems_win.h"
#include "sequence/main_sequence.h"

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

// The step must never hold the parent's pipes open (a step that lives on would keep the parent
// from seeing the end of them): it inherits only the console's handles.
void KeepPipesFromChildren(HANDLE input, HANDLE output) {
  SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    SetHandleInformation(error, HANDLE_FLAG_INHERIT, 0);
  }
}

// The task record and its blocks, and what follows from them alone: the run's inputs, fixed from
// here on.
RunInputs ReadInputs(HANDLE input) {
  RunInputs inputs;
  PipeReader in(input);
  protocol::TaskBytes bytes{};
  // A record cut short or not read at all leaves its missing bytes zero.
  (void)protocol::ReadFull(in, bytes);
  inputs.task = protocol::DecodeTaskRecord(bytes);
  inputs.program_files_x86 = EnvironmentValue("ProgramFiles(x86)");
  inputs.os_version =
      protocol::EffectiveOsVersion(inputs.task.os_version, inputs.program_files_x86);
  inputs.task.os_version = inputs.os_version;
  inputs.os_level = core::OsLevelOf(inputs.os_version);

  char delimiter = ';';
  inputs.command_text =
      protocol::ReadTextBlock(in, inputs.task.command_length, false, delimiter).text;
  inputs.conditions_text =
      protocol::ReadTextBlock(in, inputs.task.conditions_length, false, delimiter).text;
  inputs.variables_text =
      protocol::ReadTextBlock(in, inputs.task.variables_length, true, delimiter).text;
  inputs.list_delimiter = delimiter;
  inputs.limits = protocol::NormaliseFileCheckLimits(inputs.task);
  inputs.console_title = protocol::BuildConsoleTitle(inputs.task);
  return inputs;
}

void SayStarted(HANDLE output) {
  protocol::StatusRecord started;
  started.status_text = protocol::kStatusStarted;
  PipeWriter out(output);
  // A parent that cannot take it is gone: the run goes on to its end.
  (void)protocol::WriteFull(out, protocol::EncodeStatusRecord(started));
}

// The "Command=" and "WorkDir" of the job log block, expanded again with passwords masked.
JobLogCommand JobLogCommandOf(const RunInputs& inputs,
                              sequence::StepState& state,
                              RunOutcome& outcome,
                              RunServices& services) {
  JobLogCommand shown;
  shown.command =
      DispatchCommand(
          inputs, state, outcome, services,
          variables::ExpandVariables(VariablesOf(inputs, state, services), inputs.command_text,
                                     variables::kMaskPasswords, false),
          state.switches.show_resolved ? commands::DispatchMode::kShowResolved
                                       : commands::DispatchMode::kShowAsWritten)
          .shown;
  shown.working_directory = variables::ExpandVariables(
      VariablesOf(inputs, state, services), protocol::Trimmed(inputs.task.working_directory),
      variables::kMaskPasswords, false);
  return shown;
}

// The sequence's stages carried out with the runner's real services.
class RunnerWorld final : public sequence::World {
 public:
  explicit RunnerWorld(Run& run) : run_(run) {}

  bool OpenConsole() override {
    if (run_.services.console.OpenConsole(run_.inputs.console_title, run_.inputs.os_version) !=
        console::ConsoleOpening::kOpen)
      return false;
    if (run_.inputs.os_level < core::OsLevel::kFour) {
      // A console that cannot take the task's size keeps its own.
      (void)console::SizeConsole(run_.services.console.Output(), run_.inputs.task.console_columns,
                                 run_.inputs.task.console_rows);
      console::MinimizeConsoleWindow(run_.inputs.console_title);
    }
    // On every system (after the old systems' sizing, which the task's geometry decides): wide
    // enough for ordinary lines, and small, for the console host keeps a picture of all of it.
    // The job log's history goes to the console file, as rows appear.
    (void)console::FitJobLogBuffer(run_.services.console.Output());
    const std::string file = protocol::Trimmed(run_.inputs.task.console_file);
    if (!file.empty())
      (void)run_.services.console.StartJobLog(file);
    return true;
  }

  void SetStepVariables() override {
    variables::VariableContext variables = Variables();
    x5::variables::SetStepVariables(variables);
    run_.state.condition_rules = variables::ExpandVariables(
        Variables(), run_.inputs.conditions_text, variables::kMaskPasswords, false);
  }

  std::string EvaluateRules(sequence::Pass pass) override {
    if (pass == sequence::Pass::kBeforeStep)
      run_.outcome.report.phase = protocol::Phase::kBeforeStep;
    return EvaluateConditions(run_, pass);
  }

  bool KilledInChecks() override { return run_.step.killed_in_checks; }

  sequence::Command DispatchCommand() override {
    // The line the step runs and the line that messages show come from one dispatch, each
    // expanded once more; only the first holds deciphered passwords.
    const commands::DispatchedCommand dispatched = x5::runner::DispatchCommand(
        run_.inputs, run_.state, run_.outcome, run_.services,
        protocol::Trimmed(run_.inputs.command_text), commands::DispatchMode::kExecute);
    run_.step_command = variables::ExpandVariables(Variables(), dispatched.command_line,
                                                   variables::kMaskPasswords, false);
    run_.step_command_shown =
        variables::ExpandVariables(Variables(), dispatched.shown, variables::kMaskPasswords, false);
    return sequence::Command{run_.step_command.Size(), run_.step_command_shown};
  }

  void AddVariable(std::string_view name, std::string_view value) override {
    variables::VariableContext variables = Variables();
    x5::variables::AddVariable(variables, name, value);
  }

  // The step's launch: the plan from the task, carried out; what it made joins the run.
  sequence::Launched Launch() override {
    const launch::LaunchPlan plan =
        launch::PlanLaunch(run_.inputs.task, run_.inputs.os_level, run_.inputs.console_title);
    const variables::VariableContext variables = Variables();
    variables::ContextExpander expander(variables);
    const core::Result<void> started =
        run_.step.Launch(plan, launch::StepStart{std::move(run_.step_command), run_.state.variables,
                                                 run_.services.console.Input(),
                                                 run_.services.console.Output(), expander});
    if (started)
      run_.step.times.Launched(run_.services.clock.Now());
    return sequence::Launched{started.ok(), run_.step.record.status_text,
                              run_.step.record.status_code};
  }

  void ConsoleText(std::string_view text) override { run_.services.console.SendText(text); }

  void SetStatus(std::string_view text, std::optional<int32_t> code) override {
    run_.outcome.report.status_text = protocol::Padded(text, 8);
    if (code)
      run_.outcome.report.status_code = *code;
  }

  bool SaveConsoleFile() override {
    return x5::runner::SaveConsoleFile(run_.inputs, run_.services);
  }

 private:
  [[nodiscard]] variables::VariableContext Variables() {
    return VariablesOf(run_.inputs, run_.state, run_.services);
  }

  Run& run_;
};

// Before the step (phases 0 and 1): console, variables, the rules before the step, the switches,
// the RC rules and the launch. False when the step will not run.
bool Prepare(Run& run) {
  run.outcome.decided = sequence::StartOutcome(run.inputs.task);
  RunnerWorld world(run);
  if (sequence::BeforeStep(world, run.outcome.decided) == sequence::Decision::kRuns)
    return true;
  run.outcome.final_flag = true;
  return false;
}

// While the step runs (phase 2): the parent drives the runner with operator commands, one report
// each.
void Monitor(Run& run) {
  run.step.ApplyLaunchPriority(run.inputs.os_level);
  // Now, while the step starts, rather than when a KILL names and pictures its windows.
  pictures::ConnectToWindowManager();
  run.outcome.report.phase = protocol::Phase::kStepLaunched;
  PictureRequestWatch watch(run.inputs, run.state);
  uint32_t wait = run.step.Wait(0);
  for (;;) {
    run.step.last_wait_result = static_cast<int32_t>(wait);
    if (run.step.last_wait_result != protocol::kStillRunning)
      break;
    run.outcome.report.report_text_length = 0;
    const std::optional<protocol::OperatorCommand> command = ReadOperatorCommand(run.services);
    if (!command) {
      // The parent is gone (a scheduler that restarts, a broken pipe): taken as "END ", so the
      // step's work is not lost with it. The step runs to its end, and the post-step checks, the
      // job log, the console file and the clean-up follow as always.
      run.step.ResumeAllHeld();
      break;
    }
    if (CarryOutOperatorCommand(run, *command) == CommandOutcome::kLeaveMonitor)
      break;
    // One wait tells whether the step still runs for the next command and whether to look for a
    // picture request now.
    bool look = false;
    wait = watch.Wait(run.step.Process(), look);
    if (look && PictureRequest(run.inputs, run.step, run.state, run.services.console,
                               run.picture_request_ignored)) {
      wait = run.step.Wait(0);
    }
  }
}

// After the step (phase 3): the wait for it, the job log block and the rules after it.
void Finish(Run& run) {
  run.outcome.final_flag = true;
  run.outcome.accounting_flag = true;
  if (run.outcome.decided.rc.result_flag != core::ResultFlag::kGoesOn)
    return;
  RunnerWorld world(run);
  const uint32_t wait = run.step.Wait(INFINITE);
  run.step.last_wait_result = static_cast<int32_t>(wait);
  const std::optional<uint32_t> exit_code = run.step.ExitCode();
  if (wait == WAIT_OBJECT_0) {
    if (exit_code) {
      run.step.exit_code = *exit_code;
      // Beyond the report's first layout: only a parent that asked for it gets it.
      if (run.inputs.task.asks_extensions)
        run.outcome.report.step_exit_code = static_cast<int32_t>(*exit_code);
    }
  } else {
    run.outcome.accounting_flag = false;
  }
  sequence::StepEnded(world, wait == WAIT_OBJECT_0, static_cast<int32_t>(wait),
                      static_cast<int32_t>(exit_code.value_or(0)));
  AccountStep(run.inputs, run.step, run.outcome, run.services,
              JobLogCommandOf(run.inputs, run.state, run.outcome, run.services));
  run.outcome.report.phase = protocol::Phase::kStepEnded;
  if (run.step.killed)
    run.step.EndJob();
  sequence::AfterStep(world, run.outcome.decided, run.step.killed);
}

// The final reports (phase 4) until "END ", which gets the last one (phase 5).
void FinalReports(RunOutcome& outcome, RunServices& services) {
  outcome.report_text = sequence::FinalReportText(outcome.decided);
  outcome.report.report_text_length = static_cast<int32_t>(outcome.report_text.size());
  outcome.report.end_time = LocalFileTimeNow();
  outcome.report.phase = protocol::Phase::kWaitingForEnd;
  // A parent that is gone ends this as "END " would (ReadOperatorCommand does not block then).
  for (std::optional<protocol::OperatorCommand> command = ReadOperatorCommand(services);
       command && protocol::KindOf(command->name) != protocol::OperatorCommandKind::kEnd;
       command = ReadOperatorCommand(services)) {
    WriteStepReport(outcome, services.output.get());
  }
  outcome.report.phase = protocol::Phase::kEndReceived;
  WriteStepReport(outcome, services.output.get());
}

// After "END ": what the step left pictured and ended, the output closed, the console saved and
// closed, the logon released.
void CleanUp(Run& run) {
  run.step.CloseMainProcess();
  {
    // Held open until they are ended, so no id named or pictured can pass to another process.
    const StepEnding ending =
        EndOfJobPictures(run.inputs, run.step, run.state, PictureOccasion::kKilledAtEnd);
    run.step.EndJob();
    WriteEndingLines(run.services.console, ending.lines);
  }
  run.services.output.reset();
  SaveConsoleFileOrMark(run.inputs, run.outcome, run.services);
  const bool had_console = run.services.console.IsOpen();
  run.services.console.CloseConsole();
  // The console's window may stay while processes of the step still use it: it is asked to close.
  // Whether it still exists right after is not asked: a posted close is carried out later, by the
  // window's own thread, so the answer would decide nothing.
  if (had_console) {
    if (HWND window = FindWindowA(nullptr, run.inputs.console_title.c_str()))
      PostMessageA(window, WM_CLOSE, 1, 1);
  }
  run.step.Close();
}

}  // namespace

int RunMainSequence() {
  const int64_t start_time = LocalFileTimeNow();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE)
    return 0;
  win::ScopedHandle output(GetStdHandle(STD_OUTPUT_HANDLE));
  KeepPipesFromChildren(input, output.get());

  Run run(ReadInputs(input));
  run.outcome.report.start_time = start_time;
  run.services.input = input;
  run.services.output = std::move(output);
  run.step.launch_priority = run.inputs.task.priority;
  // Cut to 10 s: each picture waits this long, and a KILL waits for the pictures.
  run.state.switches.picture_interval =
      pictures::BoundedPictureInterval(run.inputs.task.picture_interval);
  SayStarted(run.services.output.get());
  run.services.name_fold = core::SystemNameFold();
  if (Prepare(run)) {
    Monitor(run);
    Finish(run);
  }
  FinalReports(run.outcome, run.services);
  CleanUp(run);
  return 0;
}

}  // namespace x5::runner
