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

#include "core/result.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/text/task_file.h"

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

// What a check predicts for a step: the final report the parent would read, what `x5ctl exec`
// would exit with for it, and the check's warnings and unchecked rules.
struct PredictedStep {
  int exit_status = kCheckUnchecked;
  std::string status_text;  // trimmed
  int32_t current_rc = 0;
  char result_flag = '+';
  std::string verdict;  // "the step abends", ...
  std::vector<std::string> warnings;
  std::vector<std::string> unchecked;  // rule lines whose file no --drive mapping reaches
  std::string shown;  // the check as `x5ctl check --both` prints it (JSON lines with --json)
};

// Checks an already loaded task (its task RC as the caller set it) as `x5ctl check --both` does,
// with the options' drives, directory, environment, time and separator; nothing is printed. A
// failure names an option that is not understood, or a check that could not be completed.
[[nodiscard]] core::Result<PredictedStep> CheckTask(const text::TaskFile& task,
                                                    CheckOptions options) noexcept;

// Checks a job file (one with [[step]] tables) step by step as CheckTask does, each step with the
// RC the one before it would leave if it ran as predicted; writes each step's check, then the job's
// table and outcome. Returns the job's predicted exit status (by `x5ctl job run`'s table).
int RunJobCheck(const CheckOptions& options, std::ostream& out, std::ostream& errors);

// Whether the TOML file at `path` is a job file (it has a `step` key); false when it cannot be
// read.
bool IsJobFile(const std::string& path);

// Declares the options of `x5ctl check` on `app`; the returned handler runs the check once they
// are parsed. Relative --drive folders start at `base` (empty: the current directory).
[[nodiscard]] std::function<int()> SetUpCheckCommand(CLI::App& app,
                                                     std::ostream& out,
                                                     std::ostream& errors,
                                                     const std::filesystem::path& base = {});

}  // namespace x5::ctl::check
