// `x5ctl explain`: why a step ended as it did, from a captured runner output and its job log.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

struct ExplainOptions {
  std::string capture;  // what the runner sent; "-": `input`
  std::string log;      // the step's saved job log, "" when not at hand
  bool json = false;
  std::string task;  // the step's task file, for its rules' own texts; "" when not at hand
};

// One paragraph on `out`; the exit status (subcommands/tool_exit.h).
[[nodiscard]] int RunExplain(const ExplainOptions& options,
                             std::istream& input,
                             std::ostream& out,
                             std::ostream& errors);

[[nodiscard]] std::function<int()> SetUpExplain(CLI::App& explain);

}  // namespace x5::ctl::subcommands
