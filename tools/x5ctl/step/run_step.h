// One step run from a task file, as `x5ctl run` and `x5ctl exec` both hold it: read the task, find
// the runner, check the host, start it, hold the conversation, keep the capture, find the job log
// the runner wrote and say why the step ended. What differs between the two (where the operator
// commands come from, what is prepared before the start) is the driver's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "x5ctl/step/conversation.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/session.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::step {

// The options `run` and `exec` share.
struct StepOptions {
  std::string task_path;
  std::string runner;  // "" finds it beside x5ctl (RunnerPath)
  std::string wine = host::DefaultWineCommand();
  double timeout_seconds = 60;
  std::string capture;         // every byte the runner sent goes to this file
  std::string capture_input;   // every byte sent to the runner goes to this file
  bool explain = false;        // after the reports, why the step ended as it did
  bool wine_messages = false;  // Wine's own notices on standard error (else dropped)
  // A step that ran and let the job go on fails when its main process's exit code is not 0 (exec;
  // the explanation says so too).
  bool fail_on_exit_code = false;
};

// Where a step run's output goes.
struct StepStreams {
  std::ostream& records;  // the status record, reports and explanation (JSON lines when `json`)
  bool json = false;
  std::ostream& errors;  // problems, "x5ctl: ..."; with `json` also as error records
  // The job log the runner wrote in this run, as this system's text, and why there is none; null:
  // not shown.
  std::ostream* job_log = nullptr;
};

// What differs between the subcommands that run a step.
class StepDriver {
 public:
  virtual ~StepDriver() = default;
  // The task to run: the task file's by default (a job's step gives its own).
  virtual core::Result<text::TaskFile> Task(const StepOptions& options);
  // After the task is read and the host checked, before the runner starts (the task may still be
  // changed). A failure is said and the step does not start.
  virtual core::Result<void> Prepare(text::TaskFile& task) = 0;
  // The operator commands; asked for once Prepare has succeeded.
  virtual OpSource& Ops() = 0;
  // What cuts the session's waits short; null: nothing.
  virtual const host::Interrupt* Interruption() const { return nullptr; }
  // Where the console file the runner knows by `console_file` lies for x5ctl.
  virtual std::filesystem::path JobLogPath(const std::string& console_file,
                                           const std::string& wine_command) const;
};

struct StepRun {
  text::TaskFile task;
  ConversationResult conversation;
  std::optional<protocol::StepReport> final_report;
  bool capture_failed = false;       // a --capture or --capture-input file could not be written
  std::string console_file_problem;  // why the runner could not write the console file, if known
};

// Runs the step; a Failure (already said on `streams`) when it did not get as far as starting the
// runner. A runner that could not be started is a StepRun that ended kNotStarted.
core::Result<StepRun> RunStep(const StepOptions& options,
                              StepDriver& driver,
                              const StepStreams& streams);

// The outcome of a step run whose --capture or --capture-input file could not be written: the
// evidence asked for is missing, so a success becomes kExecBrokeOff; any other outcome stands.
ExecOutcome WithCaptureKept(ExecOutcome outcome, const StepRun& run);

// Says a problem on `streams`: "x5ctl: ..." on errors, and an error record when JSON.
void SayProblem(const StepStreams& streams, const std::string& message);

}  // namespace x5::ctl::step
