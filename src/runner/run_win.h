// The runner-wide state of one run: task, texts, step handles, return codes, messages, console.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "conditions/condition_file.h"
#include "conditions/rule_settings.h"
#include "console/console_win.h"
#include "launch/identity_win.h"
#include "runner/accounting.h"
#include "protocol/protocol.h"
#include "core/rc_rules.h"
#include "protocol/task_values.h"
#include "runner/thread_hold.h"
#include "sequence/main_sequence.h"
#include "variables/system_adapters.h"
#include "variables/variables.h"
#include "win/unique_handle.h"

namespace x5 {

class PipeReader;
class PipeWriter;

struct Run {
  // Pipes to the parent. The output is closed at the end so the parent sees the end of the pipe.
  HANDLE input = nullptr;
  ScopedHandle output;

  TaskRecord task;
  std::string command_text;
  std::string conditions_text;
  std::string variables_text;
  char list_delimiter = ';';

  int32_t picture_interval = 200;
  std::string picture_type = "JPG";

  // The command line to launch, passwords deciphered (the launch takes it), and the same line
  // with passwords masked, for messages.
  SecretString step_command;
  std::string step_command_shown;
  std::string condition_rules;
  std::string console_title;

  ScopedHandle job;  // empty when no job object was made
  StepReport report;
  int32_t report_code = 0;
  int32_t last_wait_result = kStillRunning;

  StatusRecord step;  // launch record: status text and code of the launch
  ScopedHandle process;
  ScopedHandle thread;
  StepIdentity identity;  // logon token, hive, profile: released on every path
  StepTimes step_times;   // of the step's main process, local

  sequence::Outcome outcome;  // RC state and the report text's messages
  std::string report_text;

  bool final_flag = false;
  bool accounting_flag = false;
  bool killed = false;
  bool show_resolved = false;
  bool parent_gone = false;  // the parent's pipe ended: no more commands will come
  // A KILL stopped a file check before the launch: no switch is carried out and nothing runs.
  bool killed_in_checks = false;
  // A "_X5C_" that could not be deleted counts once; later requests are not acted on.
  bool picture_request_ignored = false;

  FileCheckLimits limits;
  int32_t kilobytes_read = 0;
  int64_t file_check_chunks = 0;  // the pacer's chunk count, over both condition passes
  int32_t diag_number = 0;

  std::vector<std::string> variables;      // the runner variable table, "NAME=value"
  conditions::RuleSettings rule_settings;  // kept across the checks before and after the step
  std::unique_ptr<conditions::RuleFiles> rule_files;
  PendingEdit edit;
  int32_t last_result = 0;
  std::string global_parameter_directory;

  runner::HoldLedger holds;  // every suspend applied to the step, so none outlives the run
  runner::AccountingNotices accounting_notices;
  std::string command_line_shown;  // "Command=" of the job log

  Console console;
  ConsoleSinkWin console_sink{console};
  SystemEnvironment environment;
  SystemClock clock;
  SystemDateNames date_names;
  SystemParameterFiles parameter_files;
  // Variable names compare as environment names do. Filled after "Started ": the system's folding
  // asks user32, and loading it (under Wine a connection to the display) before that answer
  // would slow every start.
  NameFold name_fold;
  std::string program_files_x86;
  uint8_t os_version = 0;  // effective OS version code

  [[nodiscard]] bool HasJob() const { return static_cast<bool>(job); }
  // The job handle's value as operators see it in the job log.
  [[nodiscard]] uint32_t JobHandleValue() const {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(job.get()));
  }
};

// The variable routines' view of the run.
[[nodiscard]] inline VariableContext VariablesOf(Run& run) {
  return VariableContext{run.variables,
                         run.task,
                         run.variables_text,
                         run.list_delimiter,
                         run.global_parameter_directory,
                         run.console_sink,
                         run.environment,
                         run.clock,
                         run.date_names,
                         run.parameter_files,
                         run.name_fold};
}

// Writes the step report (the report text follows in the final reports).
void WriteStepReport(Run& run);

}  // namespace x5
