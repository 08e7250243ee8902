// The state of a job, kept in its state folder beside its RC file: the run under way, and for each
// step the RC it started with and what became of it, so that a job stopped at a step can be seen
// and started again there, wherever its steps ran. Also the job's outcome and its table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "x5ctl/job/job_file.h"
#include "x5ctl/step/exit_status.h"

namespace x5::ctl::job {

enum class Stage {
  kWaiting,  // part of the run under way, not started yet (on a cluster: submitted)
  kRunning,  // started and not finished (or its x5ctl ended without saying how it finished)
  kDone,     // finished with an outcome
  kNotRun,   // not started: the job stopped before it, or it is not part of the run
};

struct StepRecord {
  int number = 0;
  std::string name;  // ANSI bytes, as in the job
  std::string fingerprint;
  std::string run;  // the run that last had this step
  Stage stage = Stage::kWaiting;
  int32_t maximum_rc = 0;
  std::optional<int32_t> rc_in;  // the task RC it was given
  // The final report's fields, when it had one.
  std::optional<std::string> status_text;
  char result_flag = ' ';
  std::optional<int32_t> current_rc;
  std::optional<uint32_t> step_exit_code;
  std::optional<int32_t> rc_out;   // the RC it left in the RC file; nullopt: left as it was
  std::optional<int> exit_status;  // by exec's table; for a step not run, why the job stopped
  std::string meaning;             // what the exit status says, ANSI bytes
  bool goes_on = false;            // it let the job go on to the next step
  std::string started;             // "YYYY-MM-DD HH:MM:SS UTC"
  std::optional<double> seconds;   // how long it took, from its runner's start to its end
  std::string host;
  int64_t process_id = 0;  // the x5ctl that ran it
  std::string slurm_job;   // the Slurm job it was submitted as
};

struct JobState {
  std::string run;  // the run under way (or the last one)
  std::string how;  // what started it, for people: "job run --from 2"
  int first = 1;    // its first and last step
  int last = 1;
  std::vector<StepRecord> steps;
};

// A name for a new run, unique across the machines of a cluster: time, host and process.
std::string NewRunName();

// The state as the JSON text the state file holds, and back. Reading refuses anything that is not a
// state this x5ctl wrote (the file lies in a folder others may write).
std::string StateText(const JobState& state);
core::Result<JobState> ParseStateText(std::string_view text, const std::string& source);

// The job's state file: nullopt when the job has no state yet.
core::Result<std::optional<JobState>> ReadState(const Job& job);
// Replaces the state file whole.
[[nodiscard]] core::Result<void> WriteState(const Job& job, const JobState& state);

// The RC the job had at `step`: the job's task RC at the first step, else the RC the step before it
// left. Refused when that RC means nothing for the job as it now is: a step before it changed
// since it ran, or did not run, or left no RC.
core::Result<int32_t> RcAt(const Job& job, const std::optional<JobState>& state, int step);

// The state of a new run of steps first..last: the run's steps waiting, the other steps' records as
// they were (steps the state does not know yet: not run).
JobState StartRun(const Job& job,
                  const std::optional<JobState>& old,
                  int first,
                  int last,
                  const std::string& run,
                  const std::string& how);

// Whether a step may start: the run's first step may, a later one only when the step before it in
// the run let the job go on. The step record that stopped the job otherwise.
const StepRecord* StoppedBefore(const JobState& state, int step);

// The job's outcome by exec's exit status table; nullopt while it has not ended. A step that
// stopped the job (stopped from outside, a runner that failed) decides; otherwise the last step
// that ran a command (skipped steps and steps without a command change nothing), and the job
// abended when its RC at the end puts a next step into abend mode, whatever the steps after the
// abend did.
std::optional<step::ExecOutcome> JobOutcome(const JobState& state);

// One line per step: step, name, status, RC, flag, the step's exit code, duration, outcome.
std::string FormatTable(const JobState& state);
// Steps whose task has changed since they ran, for a note under the table; "" when none.
std::string ChangedSteps(const Job& job, const JobState& state);

// {"record":"job", ...}: the state's steps and the job's outcome, one line.
std::string JobJson(const Job& job, const JobState& state);

}  // namespace x5::ctl::job
