// `x5ctl job`: its subcommands run, submit and status, with their options.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace x5::ctl::job {

// `x5ctl job status`: the table of the job's state, wherever its steps ran, and its outcome. Exit
// status 0 shown, 1 the state could not be read (or there is none), 2 usage.
[[nodiscard]] int ShowJobStatus(const std::string& job_path,
                                bool json,
                                std::ostream& out,
                                std::ostream& errors);

// Declares `job` and its subcommands; the handler runs the one given.
[[nodiscard]] std::function<int()> SetUpJob(CLI::App& job);

// Whether the subcommand the command line named exits by the step's table (job run), for usage
// errors.
bool JobRunsSteps(const CLI::App& job);

}  // namespace x5::ctl::job
