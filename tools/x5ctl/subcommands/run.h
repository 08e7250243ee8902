// `x5ctl run`: one step from a task file, with the operator commands the user gives, every record
// printed as it arrives.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "x5ctl/step/run_step.h"

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

struct RunOptions : step::StepOptions {
  std::vector<text::OpStep> ops;  // --op with its --after, in the order given
  bool ops_from_input = false;
  // `input` is no terminal (a pipe or a file): op lines are read from it when nothing else gives
  // operator commands.
  bool input_is_stream = false;
  bool json = false;
  bool job_log = false;  // the job log's lines on standard error (`errors`), as they appear
  std::vector<std::string> drives;  // C=DIR: where the runner's drives are here, for the job log
};

// Runs the step and returns the exit status of the documented table (step/exit_status.h). Records
// and the explanation go to `out`, problems to `errors`; op lines may come from `input`.
[[nodiscard]] int RunRun(const RunOptions& options,
                         std::istream& input,
                         std::ostream& out,
                         std::ostream& errors);

// Declares run's arguments and options on its subcommand; the handler runs it once they are parsed
// (on x5ctl's standard streams) and returns the exit status.
[[nodiscard]] std::function<int()> SetUpRun(CLI::App& run);

}  // namespace x5::ctl::subcommands
