// `x5ctl check`: runs the runner's own portable code on a task file without running the step (the
// step variables, the condition rules on local files, the command's switches and lines, the
// return-code decision) and says what the runner would do. It reads through --drive mappings and
// never writes, deletes or deciphers anything.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "x5ctl/step/exit_status.h"

namespace CLI {
class App;
}

namespace x5::ctl::check {

// `x5ctl check` exits by the table of `x5ctl exec` (x5ctl/step/exit_status.h) for the final report
// it predicts; its own are these two.
inline constexpr int kCheckUsage = step::kStepExitUsage;  // options or task file not understood
inline constexpr int kCheckUnchecked = step::kStepExitUnchecked;  // not checked, or not completed

struct CheckOptions {
  enum class Sections { kBefore, kAfter, kBoth };

  std::string task_path;
  std::vector<std::string> drives;       // "C=DIR", "\\server\share=DIR"
  std::filesystem::path base;            // relative --drive folders start here (empty: the cwd)
  std::string current_directory;         // the runner's current directory, a Windows path
  std::vector<std::string> environment;  // "NAME=VALUE": the runner's own environment
  std::string now;                       // "YYYY-MM-DD HH:MM:SS" for date pictures
  char decimal_separator = '.';          // of the runner's locale, for V= fields
  Sections sections = Sections::kBefore;
  bool json = false;
};

// Checks the task and writes the result to `out` (readable, or one JSON object per line);
// problems with the options or the task file go to `errors`. Returns one of the statuses above.
int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& errors);

// Declares the options of `x5ctl check` on `app`; the returned handler runs the check once they
// are parsed. Relative --drive folders start at `base` (empty: the current directory).
[[nodiscard]] std::function<int()> SetUpCheckCommand(CLI::App& app,
                                                     std::ostream& out,
                                                     std::ostream& errors,
                                                     const std::filesystem::path& base = {});

}  // namespace x5::ctl::check
