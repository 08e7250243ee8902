// `x5ctl setup-host`: the Wine prefix and display a host's runners need, made once.
#include "x5ctl/subcommands/setup_host.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "x5ctl/host/wine_host.h"
#include "x5ctl/step/session.h"
#include "x5ctl/subcommands/tool_exit.h"

namespace x5::ctl::subcommands {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetupDescription =
    R"(Prepares this Linux host for runners under Wine and prints the lines a scheduler's
environment needs, for example:
  WINEPREFIX=/home/batch/.local/share/x5runner/wine-prefix
  DISPLAY=:1
Only those lines go to standard output (append them to a systemd EnvironmentFile,
or `set -a; . FILE` in a shell); what was done goes to standard error.

The prefix (--prefix, else WINEPREFIX, else ~/.local/share/x5runner/wine-prefix)
is built when it is not (64-bit, about half a minute) and gets the runner's
settings: no crash dialog for a crashing step program, windows that close without
a window manager, and the key HKLM\Software\Halvex, under which the runners of the
host take pictures one at a time. Running it again on a ready prefix only applies
the settings again.

The display is --display when given (it must answer), else DISPLAY when a display
answers there, else a new Xvfb display, which runs on after x5ctl has ended until
it is stopped by the process id shown (for a service, start Xvfb from the service
manager instead and name it with --display).

Exit status: 0 ready, 1 something could not be done (said on standard error),
2 for usage errors.)";

struct Options {
  std::string prefix;
  std::string display;
  std::string wine = host::DefaultWineCommand();
};

int Fail(const std::string& message) {
  std::cerr << "x5ctl: setup-host: " << message << "\n";
  return 1;
}

// The wine command with `program` and its arguments after it, its standard error (Wine's notes
// while it builds a prefix) appended to `log`.
std::vector<std::string> WineArgv(const std::string& wine,
                                  std::vector<std::string> arguments,
                                  const std::string& log) {
  std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$@\" 2>>\"$0\"", log};
  for (std::string& word : step::RunnerCommandLine(arguments.front(), wine))
    argv.push_back(std::move(word));
  argv.insert(argv.end(), arguments.begin() + 1, arguments.end());
  return argv;
}

int SetUpHost(const Options& options) {
  const host::WineHostFacts facts = host::ReadWineHostFacts(options.wine);
  if (!facts.uses_wine) {
    std::cerr << "x5ctl: setup-host prepares a Wine prefix and a display for runners under Wine "
                 "on Linux; with --wine \""
              << options.wine << "\" there is nothing to prepare\n";
    return kToolUsage;
  }
  if (!facts.wine_found)
    return Fail(facts.wine_program +
                " is not installed (not found on PATH): install the wine "
                "and wine64 packages");

  std::string prefix = options.prefix.empty() ? host::EnvOr("WINEPREFIX") : options.prefix;
  if (prefix.empty()) {
    const std::string data = host::EnvOr("XDG_DATA_HOME");
    prefix =
        (data.empty() ? host::EnvOr("HOME") + "/.local/share" : data) + "/x5runner/wine-prefix";
  }
  std::error_code ec;
  prefix = fs::absolute(prefix, ec).lexically_normal().string();
  while (prefix.size() > 1 && prefix.back() == '/')
    prefix.pop_back();

  std::string display = options.display;
  if (!display.empty()) {
    if (!host::DisplayAnswers(display))
      return Fail("no X server answers on --display " + display);
  } else if (const std::string current = host::EnvOr("DISPLAY");
             !current.empty() && host::DisplayAnswers(current)) {
    display = current;
    std::cerr << "x5ctl: setup-host: using the display " << display << " (DISPLAY)\n";
  } else {
    core::Result<host::StartedDisplay> started = host::StartVirtualDisplay();
    if (!started)
      return Fail(started.failure().text);
    display = started->display;
    std::cerr << "x5ctl: setup-host: started Xvfb on display " << display << " (process "
              << started->pid << "); it runs until stopped: kill " << started->pid << "\n";
  }

  // What every Wine program started from here needs; the build settings matter only for wineboot.
  host::SetEnvironment("WINEPREFIX", prefix, true);
  host::SetEnvironment("DISPLAY", display, true);
  host::SetEnvironment("WINEARCH", "win64", true);
  host::SetEnvironment("WINEDEBUG", "-all", false);
  // No installer dialogs for .NET and HTML support, which the runner does not use.
  host::SetEnvironment("WINEDLLOVERRIDES", "mscoree,mshtml=", false);

  fs::create_directories(prefix, ec);
  const std::string log = prefix + "/setup-host.log";
  const fs::path system_reg = fs::path(prefix) / "system.reg";
  const bool build = !fs::is_regular_file(system_reg, ec);
  if (build) {
    std::cerr << "x5ctl: setup-host: building the Wine prefix " << prefix
              << " (about half a minute)\n";
    core::Result<int> built = host::RunToEnd(WineArgv(options.wine, {"wineboot", "-i"}, log));
    if (!built || *built != 0)
      return Fail(
          "wineboot could not build the prefix " + prefix +
          (built ? " (exit code " + std::to_string(*built) + ")" : ": " + built.failure().text) +
          "; Wine's messages are in " + log);
  }
  // The settings as a file inside the prefix, imported by Wine's own regedit.
  const fs::path reg = fs::path(prefix) / "drive_c" / "windows" / "temp" / "x5runner-prefix.reg";
  fs::create_directories(reg.parent_path(), ec);
  {
    std::ofstream out(reg, std::ios::binary | std::ios::trunc);
    out << host::RunnerPrefixRegistry();
    if (!out.flush())
      return Fail("cannot write " + reg.string());
  }
  core::Result<int> imported = host::RunToEnd(
      WineArgv(options.wine, {"regedit", "/S", "C:\\windows\\temp\\x5runner-prefix.reg"}, log));
  fs::remove(reg, ec);
  if (!imported || *imported != 0)
    return Fail("regedit could not set the runner's settings in " + prefix +
                (imported ? " (exit code " + std::to_string(*imported) + ")"
                          : ": " + imported.failure().text) +
                "; Wine's messages are in " + log);
  // Wine's server writes a new prefix's registry to its files when it ends, a few seconds after
  // the last program: until then the prefix is not built for anyone who looks at its files.
  if (build) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::is_regular_file(system_reg, ec) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!fs::is_regular_file(system_reg, ec))
      return Fail("Wine did not save the new prefix " + prefix +
                  " within a minute (a Wine server kept running for it: wineserver -p?)");
  }
  std::cerr << "x5ctl: setup-host: the prefix " << prefix << " is ready for the runner\n";
  std::cout << host::SchedulerEnvironment(prefix, display) << std::flush;
  return 0;
}

}  // namespace

std::function<int()> SetUpSetupHost(CLI::App& setup) {
  auto options = std::make_shared<Options>();
  setup.footer(kSetupDescription);
  setup.add_option("--prefix", options->prefix,
                   "The Wine prefix to make ready (default: WINEPREFIX, else "
                   "~/.local/share/x5runner/wine-prefix)");
  setup.add_option("--display", options->display,
                   "The X display for the runners' consoles (default: DISPLAY when one answers "
                   "there, else a new Xvfb display)");
  setup.add_option("--wine", options->wine, "Command that runs a Windows program (as for `run`)")
      ->default_str(host::DefaultWineCommand());
  return [options] { return SetUpHost(*options); };
}

}  // namespace x5::ctl::subcommands
