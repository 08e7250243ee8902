// `x5ctl job run`: the steps of a job in order on this host, each run exactly as `x5ctl exec` runs
// one, the job's RC carried from step to step in its RC file, its state kept beside it; a job
// stopped at a step is started again there.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "x5ctl/subcommands/exec.h"

namespace x5::ctl::job {

struct JobRunOptions : subcommands::ExecOptions {
  std::optional<int> from;  // start at this step with the RC the job had there
  std::optional<int> only;  // run this step alone, with the RC the job had there
  // A step of a run submitted to a scheduler (job submit): run only while that run is the job's
  // and the step before it let the job go on, with the RC the RC file holds.
  std::string submitted_run;
};

// Runs the job (task_path: the job file). Job logs go to `out`, each under a header line naming its
// step; reports, problems and the table to `errors`, or as JSON lines to the JSON file. The exit
// status is the job's outcome by exec's table; with --only, the step's.
[[nodiscard]] int RunJob(const JobRunOptions& options, std::ostream& out, std::ostream& errors);

}  // namespace x5::ctl::job
