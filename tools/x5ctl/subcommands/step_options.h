// The options of the subcommands that run a step (`run`, `exec`), each declared here once; each
// subcommand declares them in its own order among its own options.
#pragma once

#include "x5ctl/step/run_step.h"

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

// How the runner options are described: in full (`run`), or by reference to `run` (`exec`).
enum class RunnerHelp { kFull, kAsForRun };

// The task file (or another file of tasks: `positional`, `what`), --runner and --wine.
void AddTaskAndRunnerOptions(CLI::App& app,
                             step::StepOptions& options,
                             RunnerHelp help,
                             const char* positional = "task",
                             const char* what = "Task file (TOML)");
void AddTimeoutOption(CLI::App& app, step::StepOptions& options);
void AddCaptureOption(CLI::App& app, step::StepOptions& options);
void AddExplainFlag(CLI::App& app, step::StepOptions& options);

}  // namespace x5::ctl::subcommands
