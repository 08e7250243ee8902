// What a runner started through Wine needs on a Linux host, and how x5ctl prepares it: a display
// for the runner's console, and a Wine prefix built with the settings the runner wants. `x5ctl
// setup-host` prepares both; `x5ctl exec` names what is missing before it starts a runner.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "x5ctl/host/child_process.h"

namespace x5::ctl::host {

// The registry settings a prefix needs for the runner, as a REGEDIT4 file: a crashing step
// program gets no crash dialog that waits for a click nobody gives; windows close without waiting
// for a window manager; and HKLM\Software\Halvex exists, so runners on the host take pictures one
// at a time under the capture lock.
std::string RunnerPrefixRegistry();

// The host as a runner started through `wine_command` would find it.
struct WineHostFacts {
  bool uses_wine = false;      // the command runs a wine program (not a wrapper of the user's)
  std::string wine_program;    // its first word
  bool wine_found = false;     // ... found on PATH
  std::string display;         // DISPLAY for the runner, "" when not set
  bool display_local = false;  // a display of this machine, whose socket could be tried
  bool display_answers = false;
  // The display answers but is no place for this user's steps (another user's server, or one that
  // refuses this user); "" otherwise.
  std::string display_problem;
  std::string prefix;          // WINEPREFIX, or DefaultWinePrefix() when it is not set
  bool prefix_named = false;   // WINEPREFIX was set
  bool prefix_exists = false;  // the folder exists
  bool prefix_built = false;   // it holds a built registry (system.reg)
};

// The words of `wine_command` that matter here: NAME=VALUE settings in front of the program (as
// "env WINEPREFIX=/p wine" gives them) and the program.
struct WineCommandParts {
  std::vector<std::pair<std::string, std::string>> settings;
  std::string program;
};
[[nodiscard]] WineCommandParts SplitWineCommand(std::string_view wine_command);

// Everything that is missing, in one message; "" when the runner can start.
[[nodiscard]] std::string WineHostProblem(const WineHostFacts& facts);

// The number of a display of this machine (":N", ":N.S", "unix:N", "unix:N.S"); nullopt for
// anything else.
[[nodiscard]] std::optional<int> LocalDisplayNumber(std::string_view display);

// Why `value` cannot be printed as NAME='value' in a line that a shell sources or systemd reads
// as an EnvironmentFile (a quote, a backslash, a dollar or backquote, a control character), or ""
// when it can.
[[nodiscard]] std::string UnsafeInLine(std::string_view value);

// The lines a scheduler's environment needs (NAME='VALUE', one per line; XAUTHORITY only when
// there is one). Every value must have passed UnsafeInLine.
std::string SchedulerEnvironment(const std::string& prefix,
                                 const std::string& display,
                                 const std::string& xauthority);

// ------------------------------------------------------------------- platform parts
// (host/wine_host_posix.cpp; on Windows, host/wine_host_win.cpp: no Wine, nothing to prepare)

// The facts for `wine_command`, with this process's environment.
[[nodiscard]] WineHostFacts ReadWineHostFacts(std::string_view wine_command);

// A display of this machine answers on `display` (":N", ":N.S", "unix:N").
[[nodiscard]] bool DisplayAnswers(const std::string& display);

// Why the steps of this user must not use the local display `display`, which answers; "" when
// they may. Its server is reached as the runner's X library reaches it; it must belong to this
// user or to root (another user's server could watch and type into every window of a step,
// also one started under the same number after the right one ended) and accept this user with
// the credentials of XAUTHORITY (else ~/.Xauthority).
[[nodiscard]] std::string DisplayProblem(const std::string& display);

// A virtual display (Xvfb) started for the host: it runs on in a session of its own after x5ctl
// has ended, until it is stopped by its process id. Only clients holding the cookie written into
// `authority` (an X authority file, made for this user alone) may connect.
struct StartedDisplay {
  std::string display;
  long pid = 0;
};
[[nodiscard]] core::Result<StartedDisplay> StartVirtualDisplay(const std::string& authority);

// The program a bare name stands for, searched on PATH as the shell does ("" when none; Linux
// only, host/child_process_posix.cpp).
[[nodiscard]] std::string ProgramOnPath(const std::string& name);

// The Wine prefix x5ctl uses when WINEPREFIX is not set, for setup-host and the runs alike:
// $XDG_DATA_HOME/x5runner/wine-prefix, else ~/.local/share/x5runner/wine-prefix.
std::string DefaultWinePrefix();

// An environment variable of this process, or `fallback` when it is not set.
inline std::string EnvOr(const char* name, const std::string& fallback = {}) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : fallback;
}

// Sets an environment variable of this process (and so of the programs it starts); an existing
// value stays unless `replace`.
void SetEnvironment(const std::string& name, const std::string& value, bool replace);

// Runs a program to its end with its output discarded and its errors where `errors` says; its
// exit code.
[[nodiscard]] core::Result<int> RunToEnd(const std::vector<std::string>& argv,
                                         const ChildErrors& errors = {});

// The Wine prefix `prefix` made ready for writing into: created (for this user alone) when it does
// not exist, refused when it is not a folder owned by this user, as Wine itself refuses it, before
// anything is written there.
[[nodiscard]] core::Result<void> ClaimPrefix(const std::string& prefix);

// Writes `bytes` into a new file named `stem`, a random part and `extension` in the folder
// `folders` (each an entry of the one before, the first one inside `prefix`), reached without
// following a link and made where missing; the name made.
[[nodiscard]] core::Result<std::string> WriteNewFileInPrefix(
    const std::string& prefix,
    const std::vector<std::string>& folders,
    const std::string& stem,
    const std::string& extension,
    const std::string& bytes);
// Removes the file `name` from there again, reached the same way.
void RemoveFileInPrefix(const std::string& prefix,
                        const std::vector<std::string>& folders,
                        const std::string& name);

}  // namespace x5::ctl::host
