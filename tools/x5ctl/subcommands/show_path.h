// `x5ctl show-console-file` and `x5ctl show-step-directory`: one path of a task, for scripts.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

enum class TaskPath {
  kConsoleFile,    // the console file the task names
  kStepDirectory,  // job base directory, job name, step directory
};

// Prints the path (nothing when the task names none); the exit status (subcommands/tool_exit.h).
[[nodiscard]] int RunShowPath(const std::string& task_path,
                              TaskPath which,
                              std::ostream& out,
                              std::ostream& errors);

[[nodiscard]] std::function<int()> SetUpShowConsoleFile(CLI::App& show);
[[nodiscard]] std::function<int()> SetUpShowStepDirectory(CLI::App& show);

}  // namespace x5::ctl::subcommands
