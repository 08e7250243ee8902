// `x5ctl check`: its options, the task file read as the runner reads a parent's bytes, and the
// records written readable or as JSON.
#include "x5ctl/check/check.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <ostream>

#include "core/calendar.h"
#include "x5ctl/check/check_text.h"
#include "x5ctl/check/checker.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::check {
namespace {

namespace fs = std::filesystem;

std::optional<core::LocalTime> ParseNow(const std::string& text) {
  core::LocalTime t;
  char separator = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &t.year, &t.month, &t.day, &separator,
                  &t.hour, &t.minute, &t.second, &tail) != 7 ||
      (separator != ' ' && separator != 'T') || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > core::DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.year < 1601)
    return std::nullopt;
  t.day_of_week = core::DayOfWeek(t.year, t.month, t.day);
  return t;
}

int Check(const CheckOptions& options, std::ostream& out, std::ostream& errors) {
  core::Result<text::TaskFile> loaded =
      text::LoadTaskFile(options.task_path, &text::EncipherPasswordField);
  if (!loaded) {
    errors << text::ProblemLine(loaded.failure().text);
    return kCheckUsage;
  }

  DriveMap drives;
  const fs::path base = options.base.empty() ? fs::current_path() : options.base;
  for (const std::string& mapping : options.drives) {
    if (core::Result<void> added = drives.Add(mapping, base); !added) {
      errors << text::ProblemLine(added.failure().text);
      return kCheckUsage;
    }
  }
  WorldOptions world;
  if (!options.current_directory.empty()) {
    core::Result<std::string> current = text::AnsiFromUtf8(options.current_directory);
    if (!current) {
      errors << text::ProblemLine("--current-directory: " + current.failure().text);
      return kCheckUsage;
    }
    while (current->size() > 3 && (current->back() == '\\' || current->back() == '/'))
      current->pop_back();
    drives.SetCurrentDirectory(*current);
  }
  for (const std::string& assignment : options.environment) {
    const size_t equals = assignment.find('=');
    const core::Result<std::string> ansi = text::AnsiFromUtf8(assignment);
    if (equals == std::string::npos || equals == 0 || !ansi) {
      errors << text::ProblemLine("--env \"" + assignment + "\": write NAME=VALUE");
      return kCheckUsage;
    }
    std::string name = ansi->substr(0, equals);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
    world.environment[name] = ansi->substr(equals + 1);
  }
  if (!options.now.empty()) {
    world.now = ParseNow(options.now);
    if (!world.now) {
      errors << text::ProblemLine("--now \"" + options.now + "\": write YYYY-MM-DD HH:MM:SS");
      return kCheckUsage;
    }
  }
  if (options.decimal_separator != '.' && options.decimal_separator != ',') {
    errors << "x5ctl: --decimal-separator is \".\" or \",\"\n";
    return kCheckUsage;
  }
  world.number_format.decimal_separator = options.decimal_separator;
  world.number_format.thousands_separator = options.decimal_separator == '.' ? ',' : '.';

  const RunnerInput input = ReadAsRunner(loaded->Stream());
  Checker checker(input, drives, std::move(world));
  Json head;
  head["record"] = "check";
  head["task"] = options.task_path;
  head["drives"] = Json::array();
  for (const DriveMap::Entry& entry : drives.entries())
    head["drives"].push_back(Json{{"drive", U(entry.prefix)}, {"folder", entry.given}});
  if (!drives.current_directory().empty())
    head["current_directory"] = U(drives.current_directory());
  checker.records.push_back(std::move(head));
  const int status = checker.Run(options.sections);

  if (options.json) {
    for (const Json& record : checker.records)
      out << text::JsonLine(record) << "\n";
  } else {
    WriteCheckText(checker.records, out);
  }
  return status;
}

}  // namespace

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& errors) {
  try {
    return Check(options, out, errors);
  } catch (const std::exception& e) {
    errors << text::ProblemLine(std::string("the check could not be completed: ") + e.what());
  } catch (...) {
    errors << "x5ctl: the check could not be completed\n";
  }
  return kCheckUnchecked;
}

std::function<int()> SetUpCheckCommand(CLI::App& check,
                                       std::ostream& out,
                                       std::ostream& errors,
                                       const std::filesystem::path& base) {
  auto options = std::make_shared<CheckOptions>();
  options->base = base;
  check.footer(
      "Runs the runner's own code on the task without running the step: the step variables,\n"
      "the condition rules against files on this machine, the command's switches and lines, and\n"
      "the return-code decision, with the runner's own messages. Windows paths reach local files\n"
      "through --drive mappings only; a path no mapping covers is not found, as on a missing\n"
      "drive. Nothing is written, deleted or deciphered: switches are followed, not carried out,\n"
      "and passwords stay *****. What the real machine may do differently is said at the end.\n"
      "It exits with the status `x5ctl exec` would exit with for the final report it "
      "predicts.\n\n" +
      std::string(step::kStepExitStatusHelp));
  check.add_option("task", options->task_path, "Task file (TOML)")->required();
  check
      .add_option("--drive", options->drives,
                  "A drive of the runner on this machine: C=DIR or \\\\server\\share=DIR")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  check.add_option("--current-directory", options->current_directory,
                   "The runner's current directory (a Windows path), for relative names");
  check
      .add_option("--env", options->environment,
                  "NAME=VALUE in the runner's own environment (for %NAME% the task does not "
                  "define)")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  check.add_option("--now", options->now, "The time for date pictures: \"YYYY-MM-DD HH:MM:SS\"");
  check
      .add_option("--decimal-separator", options->decimal_separator,
                  "The decimal separator of the runner's locale, \".\" or \",\"")
      ->default_str(".");
  auto sections = std::make_shared<std::pair<bool, bool>>();  // --after, --both
  CLI::Option* after_flag =
      check.add_flag("--after", sections->first, "Evaluate the rules after the step instead");
  check.add_flag("--both", sections->second, "Evaluate the rules before and after the step")
      ->excludes(after_flag);
  check.add_flag("--json", options->json, "One JSON object per line");
  return [options, sections, &out, &errors] {
    if (sections->second)
      options->sections = CheckOptions::Sections::kBoth;
    else if (sections->first)
      options->sections = CheckOptions::Sections::kAfter;
    return RunCheck(*options, out, errors);
  };
}

}  // namespace x5::ctl::check
