// `x5ctl setup-host`: the Wine prefix and display a host's runners need, made once.
#include "x5ctl/subcommands/setup_host.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "x5ctl/host/wine_host.h"
#include "x5ctl/step/session.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::subcommands {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetupDescription =
    R"(Prepares this Linux host for runners under Wine and prints the lines a scheduler's
environment needs, for example:
  WINEPREFIX='/home/batch/.local/share/x5runner/wine-prefix'
  DISPLAY=':1'
  XAUTHORITY='/home/batch/.local/share/x5runner/wine-prefix/xauthority'
Only those lines go to standard output (append them to a systemd EnvironmentFile,
or `set -a; . FILE` in a shell); what was done goes to standard error. A prefix
or display that such a line could not carry safely is refused.

The prefix (--prefix, else WINEPREFIX, else ~/.local/share/x5runner/wine-prefix,
which x5ctl run and exec use too) must be this user's (another user's is refused
before anything is written), is built when it is not (64-bit, about half a
minute) and gets the runner's
settings: no crash dialog for a crashing step program, windows that close without
a window manager, and the key HKLM\Software\Halvex, under which the runners of the
host take pictures one at a time. Running it again on a ready prefix only applies
the settings again.

The display is --display when given (it must answer), else DISPLAY when a display
answers there, else a new Xvfb display that only this user may use (its cookie
is in PREFIX/xauthority, printed as XAUTHORITY), which runs on after x5ctl has
ended until it is stopped by the process id shown (for a service, start Xvfb
from the service manager instead and name it with --display; see
docs/schedulers.md). A display of another user's, or one that does not let this
user in, is refused.

Exit status: 0 ready, 1 something could not be done (said on standard error),
2 for usage errors.)";

struct Options {
  std::string prefix;
  std::string display;
  std::string wine = host::DefaultWineCommand();
};

int Fail(const std::string& message) {
  std::cerr << text::ProblemLine("setup-host: " + message);
  return 1;
}

void Say(const std::string& message) {
  std::cerr << text::ProblemLine("setup-host: " + message);
}

// The wine command with `program` and its arguments after it.
std::vector<std::string> WineArgv(const std::string& wine, std::vector<std::string> arguments) {
  std::vector<std::string> argv = step::RunnerCommandLine(arguments.front(), wine);
  argv.insert(argv.end(), arguments.begin() + 1, arguments.end());
  return argv;
}

// A display setup-host may print and use: a display of this machine (":N", ":N.S") or a host's
// ("name:N"), nothing else.
bool WellFormedDisplay(const std::string& display) {
  if (host::LocalDisplayNumber(display))
    return true;
  const size_t colon = display.rfind(':');
  return colon != std::string::npos && colon > 0 &&
         display.find_first_not_of(
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
             "0123456789.-_") == colon &&
         host::LocalDisplayNumber(display.substr(colon)).has_value();
}

int SetUpHost(const Options& options) {
  const host::WineHostFacts facts = host::ReadWineHostFacts(options.wine);
  if (!facts.uses_wine) {
    std::cerr << text::ProblemLine(
        "setup-host prepares a Wine prefix and a display for runners under Wine on Linux; with "
        "--wine \"" +
        options.wine + "\" there is nothing to prepare");
    return kToolUsage;
  }
  if (!facts.wine_found)
    return Fail(facts.wine_program +
                " is not installed (not found on PATH): install the wine "
                "and wine64 packages");

  std::string prefix = options.prefix.empty() ? host::EnvOr("WINEPREFIX") : options.prefix;
  if (prefix.empty())
    prefix = host::DefaultWinePrefix();
  std::error_code ec;
  prefix = fs::absolute(prefix, ec).lexically_normal().string();
  while (prefix.size() > 1 && prefix.back() == '/')
    prefix.pop_back();
  // The lines printed are sourced by shells and read by service managers: a value they could take
  // for more than a value is refused, not printed.
  if (const std::string unsafe = host::UnsafeInLine(prefix); !unsafe.empty())
    return Fail("the prefix " + prefix + " cannot be printed in a line to source (" + unsafe +
                "): choose another with --prefix");
  if (!options.display.empty() && !WellFormedDisplay(options.display))
    return Fail("--display " + options.display +
                " is not a display name (\":N\", \":N.S\" or \"host:N\")");
  // Nothing is written into a prefix of another user's, whose links could lead anywhere.
  if (core::Result<void> claimed = host::ClaimPrefix(prefix); !claimed)
    return Fail(claimed.failure().text);

  std::string display = options.display;
  std::string authority = host::EnvOr("XAUTHORITY");
  if (!display.empty()) {
    if (!host::DisplayAnswers(display))
      return Fail("no X server answers on --display " + display);
  } else if (const std::string current = host::EnvOr("DISPLAY");
             WellFormedDisplay(current) && host::DisplayAnswers(current)) {
    display = current;
    Say("using the display " + display + " (DISPLAY)");
  } else {
    authority = prefix + "/xauthority";
    core::Result<host::StartedDisplay> started = host::StartVirtualDisplay(authority);
    if (!started)
      return Fail(started.failure().text);
    display = started->display;
    Say("started Xvfb on display " + display + " for this user alone (process " +
        std::to_string(started->pid) + "); it runs until stopped: kill " +
        std::to_string(started->pid));
  }
  if (!authority.empty() && !host::UnsafeInLine(authority).empty())
    return Fail("XAUTHORITY=" + authority + " cannot be printed in a line to source");
  // What every Wine program started from here needs; the build settings matter only for wineboot.
  host::SetEnvironment("WINEPREFIX", prefix, true);
  host::SetEnvironment("DISPLAY", display, true);
  if (!authority.empty())
    host::SetEnvironment("XAUTHORITY", authority, true);
  if (const std::string problem = host::DisplayProblem(display); !problem.empty())
    return Fail(problem);
  host::SetEnvironment("WINEARCH", "win64", true);
  host::SetEnvironment("WINEDEBUG", "-all", false);
  // No installer dialogs for .NET and HTML support, which the runner does not use.
  host::SetEnvironment("WINEDLLOVERRIDES", "mscoree,mshtml=", false);

  // Wine's notes go to a log in the prefix, opened without following a link.
  const std::string log = prefix + "/setup-host.log";
  const host::ChildErrors to_log{host::ChildErrors::Kind::kAppendTo, log};
  const fs::path system_reg = fs::path(prefix) / "system.reg";
  const bool build = !fs::is_regular_file(system_reg, ec);
  if (build) {
    Say("building the Wine prefix " + prefix + " (about half a minute)");
    core::Result<int> built = host::RunToEnd(WineArgv(options.wine, {"wineboot", "-i"}), to_log);
    if (!built || *built != 0)
      return Fail(
          "wineboot could not build the prefix " + prefix +
          (built ? " (exit code " + std::to_string(*built) + ")" : ": " + built.failure().text) +
          "; Wine's messages are in " + log);
  }
  // The settings as a file inside the prefix, imported by Wine's own regedit.
  const std::vector<std::string> temp = {"drive_c", "windows", "temp"};
  core::Result<std::string> reg = host::WriteNewFileInPrefix(prefix, temp, "x5runner-prefix",
                                                             ".reg", host::RunnerPrefixRegistry());
  if (!reg)
    return Fail("cannot write the runner's settings: " + reg.failure().text);
  core::Result<int> imported = host::RunToEnd(
      WineArgv(options.wine, {"regedit", "/S", "C:\\windows\\temp\\" + *reg}), to_log);
  host::RemoveFileInPrefix(prefix, temp, *reg);
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
  Say("the prefix " + prefix + " is ready for the runner");
  std::cout << host::SchedulerEnvironment(prefix, display, authority) << std::flush;
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
