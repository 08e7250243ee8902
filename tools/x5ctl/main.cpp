// x5ctl: the parent side of the runner protocol, for users and tests. This file holds the table of
// subcommands; each is a file (or a folder) under subcommands/ with its set-up and a Run function
// that tests can call with streams of their own.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "x5_version.h"
#include "x5ctl/check/check.h"
#include "x5ctl/job/job_command.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/subcommands/decode.h"
#include "x5ctl/subcommands/encipher.h"
#include "x5ctl/subcommands/encode.h"
#include "x5ctl/subcommands/exec.h"
#include "x5ctl/subcommands/explain.h"
#include "x5ctl/subcommands/run.h"
#include "x5ctl/subcommands/setup_host.h"
#include "x5ctl/subcommands/show_path.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl {
namespace {

// What a subcommand's setup returns: the handler that runs once the options are parsed.
using Handler = std::function<int()>;

// The subcommands, as ninja keeps its tools: name, one line for --help, the setup that declares
// the options and returns the handler, and whether a usage error of the subcommand as parsed is a
// step that did not start (it then exits by the step's table; without, by the tool's own usage
// status).
struct Subcommand {
  const char* name;
  const char* description;
  Handler (*set_up)(CLI::App&);
  bool (*usage_error_is_a_step)(const CLI::App&) = nullptr;
};

bool RunsAStep(const CLI::App&) {
  return true;
}

constexpr Subcommand kSubcommands[] = {
    {"run", "Run one step from a task file", subcommands::SetUpRun, RunsAStep},
    {"check", "Check a task without running it: variables, rules, switches, return code",
     [](CLI::App& check) { return check::SetUpCheckCommand(check, std::cout, std::cerr); },
     RunsAStep},
    {"explain", "Say why a step ended as it did, from a captured runner output",
     subcommands::SetUpExplain},
    {"exec", "Run one step as an ordinary command (for schedulers)", subcommands::SetUpExec,
     RunsAStep},
    {"job",
     "Run a job of several steps here (from a step, too), submit it to Slurm, show its state",
     job::SetUpJob, job::JobRunsSteps},
    {"setup-host", "Prepare a Wine prefix and a display for runners, print their environment",
     subcommands::SetUpSetupHost},
    {"decode", "Decode a captured byte stream of records", subcommands::SetUpDecode},
    {"encode", "Show the task a task file describes, or write its bytes with -o",
     subcommands::SetUpEncode},
    {"show-console-file", "Print the console file a task file names (nothing when none)",
     subcommands::SetUpShowConsoleFile},
    {"show-step-directory",
     "Print the step's folder (job base directory, job name, step directory), which holds its "
     "global parameter files and DIAG files",
     subcommands::SetUpShowStepDirectory},
    {"encipher-field", "Encipher a logon password for the task record's password field",
     subcommands::SetUpEncipherField},
    {"encipher-variable", "Encipher a password for a SETP line (hexadecimal text)",
     subcommands::SetUpEncipherVariable},
};

int Main(int argc, char** argv) {
  CLI::App app{"x5ctl: drives x5runner through its pipes as a parent scheduler does."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("x5ctl ") + X5_VERSION);
  // Linux paths given to x5ctl.exe under Wine start with '/', which must stay a path.
  app.allow_windows_style_options(false);

  std::vector<std::pair<const CLI::App*, Handler>> handlers;
  for (const Subcommand& subcommand : kSubcommands) {
    CLI::App* sub = app.add_subcommand(subcommand.name, subcommand.description);
    handlers.emplace_back(sub, subcommand.set_up(*sub));
  }
  // CLI11 says only "A subcommand is required" for a word it does not know: name it.
  if (argc > 1) {
    const std::string first = argv[1];
    const bool known = std::any_of(std::begin(kSubcommands), std::end(kSubcommands),
                                   [&](const Subcommand& s) { return first == s.name; });
    const bool top_option = first == "-h" || first == "--help" || first == "--version";
    if (!known && !top_option) {
      std::cerr << text::ProblemLine(
          (first.starts_with("-") ? "unknown option \"" : "unknown subcommand \"") + first +
          "\"; x5ctl --help lists the subcommands");
      return subcommands::kToolUsage;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help is a "parse error" that exits 0; every other one is a usage error, which for the
    // subcommands that exit by the step's table is a step that did not start.
    // CLI11's messages quote the words given, which may hold anything: shown as every other line.
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(e, out, err);
    std::cout << out.str();
    std::istringstream lines(err.str());
    for (std::string line; std::getline(lines, line);)
      std::cerr << text::TerminalText(line) << "\n";
    if (code == 0)
      return 0;
    for (const Subcommand& subcommand : kSubcommands) {
      const CLI::App& sub = *app.get_subcommand(subcommand.name);
      if (sub.parsed() && subcommand.usage_error_is_a_step != nullptr &&
          subcommand.usage_error_is_a_step(sub))
        return step::kStepExitUsage;
    }
    return subcommands::kToolUsage;
  }
  for (const auto& [sub, handler] : handlers) {
    if (*sub)
      return handler();
  }
  return subcommands::kToolUsage;
}

}  // namespace
}  // namespace x5::ctl

int main(int argc, char** argv) {
  try {
    return x5::ctl::Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("x5ctl: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "x5ctl: %s\n", e.what());
  }
  return 1;
}
