#include "x5ctl/subcommands/step_options.h"

#include <CLI/CLI.hpp>

namespace x5::ctl::subcommands {

void AddTaskAndRunnerOptions(CLI::App& app,
                             step::StepOptions& options,
                             RunnerHelp help,
                             const char* positional,
                             const char* what) {
  const bool full = help == RunnerHelp::kFull;
  app.add_option(positional, options.task_path, what)->required();
  app.add_option("--runner", options.runner,
                 full ? "x5runner.exe to start (default: x5runner.exe beside x5ctl, else where "
                        "the Linux package or a build tree puts it)"
                      : "x5runner.exe to start (as for `run`)");
  app.add_option("--wine", options.wine,
                 full ? "Command that runs a Windows program (may hold several words; \"\" runs "
                        "the runner directly)"
                      : "Command that runs a Windows program (as for `run`)")
      ->default_str(host::DefaultWineCommand());
  app.add_flag("--wine-messages", options.wine_messages,
               "Let Wine's own notices through to standard error (they are dropped otherwise)");
}

void AddTimeoutOption(CLI::App& app, step::StepOptions& options) {
  app.add_option("--timeout", options.timeout_seconds,
                 "Seconds to wait for each answer of the runner (0: no limit)")
      ->default_val(60)
      ->check(CLI::NonNegativeNumber);
}

void AddCaptureOption(CLI::App& app, step::StepOptions& options) {
  app.add_option("--capture", options.capture,
                 "Write every byte the runner sent to FILE (for `decode`)");
}

void AddExplainFlag(CLI::App& app, step::StepOptions& options) {
  app.add_flag("--explain", options.explain,
               "After the reports, say in one paragraph why the step ended as it did");
}

}  // namespace x5::ctl::subcommands
