// The runner-wide state of one run, in parts: the inputs, the step's process, the outcome, the
// services, and what the switches and rules set along the way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/command_context.h"
#include "conditions/condition_file.h"
#include "conditions/rule_settings.h"
#include "console/console_win.h"
#include "launch/identity_win.h"
#include "launch/launch_plan.h"
#include "launch/launch_win.h"
#include "runner/accounting.h"
#include "runner/job_log_lines.h"
#include "protocol/protocol.h"
#include "core/os_level.h"
#include "core/rc_rules.h"
#include "core/result.h"
#include "protocol/task_values.h"
#include "runner/thread_hold.h"
#include "sequence/main_sequence.h"
#include "sequence/step_state.h"
#include "variables/system_adapters.h"
#include "variables/variables.h"
#include "win/unique_handle.h"

namespace x5::runner {

class PipeReader;
class PipeWriter;

// What the parent sent, and what follows from it alone. Made once, by the read of the task
// (ReadInputs); the run holds it const, so nothing after the read can change it.
struct RunInputs {
  protocol::TaskRecord task;
  std::string command_text;
  std::string conditions_text;
  std::string variables_text;
  char list_delimiter = ';';
  std::string program_files_x86;
  uint8_t os_version = 0;                               // effective OS version code
  core::OsLevel os_level = core::OsLevel::kBeforeFour;  // what it selects
  protocol::FileCheckLimits limits;
  std::string console_title;
};

// The step's process: its job, its handles and the logon it runs under, owned here and closed
// here; its launch record and times; and the ledger of every suspend the runner applied to it, so
// none outlives the run. It launches, holds, resumes, sets priorities and kills the step.
class StepProcess {
 public:
  // Launches the step; what the launch made joins the step (its job also when the step did not
  // start). Fails when the step does not run; the record says how the launch went either way.
  core::Result<void> Launch(const launch::LaunchPlan& plan, launch::StepStart start);

  bool HasJob() const { return static_cast<bool>(job_); }
  // The job handle's value as operators see it in the job log.
  uint32_t JobHandleValue() const {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(job_.get()));
  }
  // Lent to the queries that measure and list the step; null once closed, or never made.
  HANDLE Job() const { return job_.get(); }
  HANDLE Process() const { return process_.get(); }

  // Waits for the main process at most `ms` (INFINITE: without a limit); the wait's result.
  uint32_t Wait(uint32_t ms) const { return WaitForSingleObject(process_.get(), ms); }
  // The main process's exit code, when the system gives it.
  std::optional<uint32_t> ExitCode() const;

  // Suspends every thread of the step (of its job, or its main thread without one). Fails with
  // the system error code of the last call that failed, which the operator's STOP reports.
  core::Result<void> Hold();
  // Releases what the last hold suspended; fails as Hold does.
  core::Result<void> Resume();
  // Undoes every suspend the runner applied: before a kill, an END, a wait without a time limit.
  void ResumeAllHeld() { holds_.ResumeAllHeld(); }
  // Sets the step's priority from a priority code; in a job, of every process in it.
  void SetPriority(int32_t code, core::OsLevel os_level);
  // Reads the step's priority (the code read has no field in the step report).
  void ReadPriority(int32_t argument);
  // Ends the step's main process with `exit_code` and, now, the rest of its tree: the report the
  // operator gets then means the whole step has been stopped.
  void Kill(uint32_t exit_code);
  // Ends whatever is left in the step's job.
  void EndJob();
  // Gives the step the priority it is launched with (the task's, or a PRTY's before the launch).
  void ApplyLaunchPriority(core::OsLevel os_level);

  // At the end of the run, before what the step left is pictured and ended: the main process's
  // handles are closed and its id forgotten (what is left is the job's), and every hold released.
  void CloseMainProcess();
  // Last: closes the job and releases the logon's token, hive and profile.
  void Close();

  protocol::StatusRecord record;  // launch record: status text and code of the launch
  StepTimes times;                // of the step's main process, local
  int32_t last_wait_result = protocol::kStillRunning;
  uint32_t exit_code = 0;       // of the main process, once the runner has seen it end
  int32_t launch_priority = 0;  // the task's, or that of a PRTY during the checks before the step
  bool killed = false;
  // A KILL stopped a file check before the launch: no switch is carried out and nothing runs.
  bool killed_in_checks = false;

 private:
  win::ScopedHandle job_;  // empty when no job object was made
  win::ScopedHandle process_;
  win::ScopedHandle thread_;
  launch::StepIdentity identity_;  // logon token, hive, profile: released on every path
  HoldLedger holds_;
};

// The number in the status text of a report during the step, and what it is: the code of the
// operator command the report answers, or the system's error code of a HOLD or RESUME (0 when it
// went through). The parent reads only the number.
struct ReportCode {
  enum class Kind : uint8_t { kNone, kCommand, kSystemError };
  Kind kind = Kind::kNone;  // kNone: no command answered yet (0)
  int32_t number = 0;
};

// What the parent is told: the return-code state and messages the sequence decides, the step
// report and the report text.
struct RunOutcome {
  sequence::Outcome decided;  // RC state and messages, as the main sequence decides them
  protocol::StepReport report;
  ReportCode report_code;
  std::string report_text;
  bool final_flag = false;
  bool accounting_flag = false;
  // What the file checks read, over both condition passes: the I/O count of the report counts
  // it, and the pacer's look interval counts on across the passes.
  int32_t kilobytes_read = 0;
  int64_t file_check_chunks = 0;
};

// The services the run works through: the parent's pipes, the console and the system's answers.
struct RunServices {
  // Pipes to the parent. The output is closed at the end so the parent sees the end of the pipe.
  HANDLE input = nullptr;
  win::ScopedHandle output;
  bool parent_gone = false;  // the parent's pipe ended: no more commands will come

  console::Console console;
  console::ConsoleSinkWin console_sink{console};
  variables::SystemEnvironment environment;
  variables::SystemClock clock;
  variables::SystemDateNames date_names;
  variables::SystemParameterFiles parameter_files;
  // Variable names compare as environment names do. Filled after "Started ": the system's folding
  // asks user32, and loading it (under Wine a connection to the display) before that answer
  // would slow every start.
  core::NameFold name_fold;
  std::unique_ptr<conditions::RuleFiles> rule_files;
};

// The whole run. Only the routines that drive all of it take it: the main sequence, its world,
// the operator commands' dispatcher and a pass of the condition rules (which answers operator
// commands between file chunks); everything else takes the parts it uses.
struct Run {
  explicit Run(RunInputs read) : inputs(std::move(read)) {}

  const RunInputs inputs;
  StepProcess step;
  RunOutcome outcome;
  RunServices services;

  sequence::StepState state;  // what the variables, rules and switches set, as the check keeps it

  // The command line to launch, passwords deciphered (the launch takes it), and the same line
  // with passwords masked, for messages.
  core::SecretString step_command;
  std::string step_command_shown;

  // A "_X5C_" that could not be deleted counts once; later requests are not acted on.
  bool picture_request_ignored = false;
  int32_t diag_number = 0;
};

// The variable routines' view of the run.
[[nodiscard]] inline variables::VariableContext VariablesOf(const RunInputs& inputs,
                                                            sequence::StepState& state,
                                                            RunServices& services) {
  return variables::VariableContext{state.variables,
                                    inputs.task,
                                    inputs.variables_text,
                                    inputs.list_delimiter,
                                    state.global_parameter_directory,
                                    services.console_sink,
                                    services.environment,
                                    services.clock,
                                    services.date_names,
                                    services.parameter_files,
                                    services.name_fold};
}

// Writes the step report to the parent's pipe (the report text follows in the final reports).
void WriteStepReport(RunOutcome& outcome, HANDLE output);

}  // namespace x5::runner
