#include "x5ctl/subcommands/show_path.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::subcommands {
namespace {

std::function<int()> SetUpShowPath(CLI::App& show, TaskPath which) {
  auto path = std::make_shared<std::string>();
  show.add_option("task", *path, "Task file (TOML)")->required();
  show.footer(kToolExitStatusHelp);
  return [path, which] { return RunShowPath(*path, which, std::cout, std::cerr); };
}

}  // namespace

int RunShowPath(const std::string& task_path,
                TaskPath which,
                std::ostream& out,
                std::ostream& errors) {
  core::Result<text::TaskFile> loaded = text::LoadTaskFile(task_path, &text::EncipherPasswordField);
  if (!loaded) {
    errors << text::ProblemLine(loaded.failure().text);
    return kToolUsage;
  }
  const protocol::TaskRecord& t = loaded->task;
  const std::string shown = which == TaskPath::kConsoleFile
                                ? protocol::Trimmed(t.console_file)
                                : protocol::Trimmed(t.job_base_directory) +
                                      protocol::Trimmed(t.job_name) + "\\" +
                                      protocol::Trimmed(t.step_directory) + "\\";
  if (!shown.empty())
    out << text::Utf8FromAnsi(shown) << "\n";
  return kToolDone;
}

std::function<int()> SetUpShowConsoleFile(CLI::App& show) {
  return SetUpShowPath(show, TaskPath::kConsoleFile);
}

std::function<int()> SetUpShowStepDirectory(CLI::App& show) {
  return SetUpShowPath(show, TaskPath::kStepDirectory);
}

}  // namespace x5::ctl::subcommands
