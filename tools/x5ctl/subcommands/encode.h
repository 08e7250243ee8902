// `x5ctl encode`: the task a task file describes, shown, or written as the bytes x5ctl sends.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "x5ctl/text/task_file.h"

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

struct EncodeOptions {
  std::string task_path;
  std::string output;  // "": show the task instead of writing its stream
  bool json = false;
  std::vector<text::OpStep> ops;  // appended to the stream instead of the task file's own
};

// The exit status (subcommands/tool_exit.h).
[[nodiscard]] int RunEncode(const EncodeOptions& options, std::ostream& out, std::ostream& errors);

[[nodiscard]] std::function<int()> SetUpEncode(CLI::App& encode);

}  // namespace x5::ctl::subcommands
