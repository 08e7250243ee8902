// `x5ctl check`: its options, the task file read as the runner reads a parent's bytes, and the
// records written readable or as JSON.
#include "x5ctl/check/check.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <ostream>
#include <sstream>

#include "core/ascii_text.h"
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

// The drive map and the world the options describe; a failure says which option is wrong.
struct Setting {
  DriveMap drives;
  WorldOptions world;
};

core::Result<Setting> SettingOf(const CheckOptions& options) {
  Setting setting;
  DriveMap& drives = setting.drives;
  WorldOptions& world = setting.world;
  const fs::path base = options.base.empty() ? fs::current_path() : options.base;
  for (const std::string& mapping : options.drives) {
    if (core::Result<void> added = drives.Add(mapping, base); !added)
      return std::move(added).failure();
  }
  if (!options.current_directory.empty()) {
    core::Result<std::string> current = text::AnsiFromUtf8(options.current_directory);
    if (!current)
      return current.failure().Within("--current-directory: ");
    while (current->size() > 3 && (current->back() == '\\' || current->back() == '/'))
      current->pop_back();
    drives.SetCurrentDirectory(*current);
  }
  for (const std::string& assignment : options.environment) {
    const size_t equals = assignment.find('=');
    const core::Result<std::string> ansi = text::AnsiFromUtf8(assignment);
    if (equals == std::string::npos || equals == 0 || !ansi)
      return core::Failure{"--env \"" + assignment + "\": write NAME=VALUE"};
    world.environment[core::UpperAscii(ansi->substr(0, equals))] = ansi->substr(equals + 1);
  }
  if (!options.now.empty()) {
    world.now = ParseNow(options.now);
    if (!world.now)
      return core::Failure{"--now \"" + options.now +
                           "\": write YYYY-MM-DD HH:MM:SS, a time that exists"};
  }
  if (options.decimal_separator != '.' && options.decimal_separator != ',')
    return core::Failure{"--decimal-separator is \".\" or \",\""};
  world.number_format.decimal_separator = options.decimal_separator;
  world.number_format.thousands_separator = options.decimal_separator == '.' ? ',' : '.';
  return setting;
}

// The checker's records for a task, with the head that says what it was checked against.
int CheckRecords(const text::TaskFile& task,
                 const CheckOptions& options,
                 const Setting& setting,
                 std::vector<Json>& records) {
  const RunnerInput input = ReadAsRunner(task.Stream());
  Checker checker(input, setting.drives, setting.world);
  Json head;
  head["record"] = "check";
  head["task"] = options.task_path;
  head["drives"] = Json::array();
  for (const DriveMap::Entry& entry : setting.drives.entries())
    head["drives"].push_back(Json{{"drive", U(entry.prefix)}, {"folder", entry.given}});
  if (!setting.drives.current_directory().empty())
    head["current_directory"] = U(setting.drives.current_directory());
  checker.records.push_back(std::move(head));
  const int status = checker.Run(options.sections);
  records = std::move(checker.records);
  return status;
}

// The records as `check` prints them: readable, or one JSON object per line.
void WriteRecords(const std::vector<Json>& records, bool json, std::ostream& out) {
  if (json) {
    for (const Json& record : records)
      out << text::JsonLine(record) << "\n";
  } else {
    WriteCheckText(records, out);
  }
}

int Check(const CheckOptions& options, std::ostream& out, std::ostream& errors) {
  if (IsJobFile(options.task_path))
    return RunJobCheck(options, out, errors);
  core::Result<text::TaskFile> loaded =
      text::LoadTaskFile(options.task_path, &text::EncipherPasswordField);
  if (!loaded) {
    errors << text::ProblemLine(loaded.failure().text);
    return kCheckUsage;
  }
  const core::Result<Setting> setting = SettingOf(options);
  if (!setting) {
    errors << text::ProblemLine(setting.failure().text);
    return kCheckUsage;
  }
  std::vector<Json> records;
  const int status = CheckRecords(*loaded, options, *setting, records);
  WriteRecords(records, options.json, out);
  return status;
}

}  // namespace

core::Result<PredictedStep> CheckTask(const text::TaskFile& task, CheckOptions options) noexcept {
  try {
    const core::Result<Setting> setting = SettingOf(options);
    if (!setting)
      return setting.failure();
    options.sections = CheckOptions::Sections::kBoth;
    std::vector<Json> records;
    PredictedStep predicted;
    predicted.exit_status = CheckRecords(task, options, *setting, records);
    const Json& outcome = records.back();
    predicted.status_text = outcome["status_text"];
    predicted.current_rc = outcome["current_rc"];
    predicted.result_flag = outcome["result_flag"].get<std::string>()[0];
    predicted.verdict = outcome["verdict"];
    for (const char* key : {"warnings", "unchecked"})
      if (outcome.contains(key))
        for (const Json& line : outcome[key])
          (key[0] == 'w' ? predicted.warnings : predicted.unchecked).push_back(line);
    std::ostringstream shown;
    WriteRecords(records, options.json, shown);
    predicted.shown = shown.str();
    return predicted;
  } catch (const std::exception& e) {
    return core::Failure{std::string("the check could not be completed: ") + e.what()};
  } catch (...) {
    return core::Failure{"the check could not be completed"};
  }
}

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
      "predicts.\n"
      "A job file (with [[step]] tables) is checked step by step as --both checks a task, each\n"
      "step with the RC the one before would leave if it ran as predicted, then the job's table;\n"
      "it exits with the status `x5ctl job run` would exit with.\n\n" +
      std::string(step::kStepExitStatusHelp));
  check.add_option("task", options->task_path, "Task file or job file (TOML)")->required();
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
