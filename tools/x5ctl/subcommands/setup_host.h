// `x5ctl setup-host`: prepares a Linux host for runners under Wine (a prefix with the runner's
// settings, a display) and prints the environment lines a scheduler needs.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

// Declares setup-host's options on its subcommand; the handler returns the exit status.
[[nodiscard]] std::function<int()> SetUpSetupHost(CLI::App& setup);

}  // namespace x5::ctl::subcommands
