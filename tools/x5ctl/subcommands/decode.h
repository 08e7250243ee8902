// `x5ctl decode`: a captured byte stream of records, shown readable or as JSON.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

struct DecodeOptions {
  std::string path;  // "-": `input`
  bool json = false;
  bool parent_side = false;  // the parent's stream (task, blocks, commands), not the runner's
};

// Shows every record on `out`; the exit status (subcommands/tool_exit.h).
[[nodiscard]] int RunDecode(const DecodeOptions& options,
                            std::istream& input,
                            std::ostream& out,
                            std::ostream& errors);

[[nodiscard]] std::function<int()> SetUpDecode(CLI::App& decode);

}  // namespace x5::ctl::subcommands
