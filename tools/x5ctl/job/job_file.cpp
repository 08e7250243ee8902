// Reads a job file: its own keys, the task keys it gives every step, and its [[step]] tables.
#include "x5ctl/job/job_file.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/task_layers.h"

namespace x5::ctl::job {
namespace {

namespace fs = std::filesystem;

// Keys a job gives once and the steps may not change, and keys that mean nothing in a job.
struct Refused {
  std::string_view key;
  std::string_view why;
};
constexpr Refused kRefusedAtTop[] = {
    {"ops", "a job's steps run as `x5ctl exec` runs a step, without an op list"},
    {"raw", "a job sends its steps' tasks as they are ([raw] is for tests of a single task)"},
};
constexpr Refused kRefusedInStep[] = {
    {"task_rc",
     "a step starts with the job's RC so far; give task_rc once, for the job's first step"},
    {"ops", "a job's steps run as `x5ctl exec` runs a step, without an op list"},
    {"raw", "a job sends its steps' tasks as they are ([raw] is for tests of a single task)"},
    {"state_folder", "the job has one state folder; give it once, outside the steps"},
};

// The job's own keys: given for the job, they win over a step's task file, which may have been
// written to run on its own.
constexpr std::string_view kJobKeys[] = {"job_name", "job_number", "user_name",
                                         "job_base_directory", "maximum_rc"};

constexpr size_t kNameWidth = 64;

// Every key of `table` but the job's own.
std::vector<std::string> AllButJobKeys(const toml::table& table) {
  std::vector<std::string> skip;
  for (auto&& [key, node] : table) {
    if (std::find(std::begin(kJobKeys), std::end(kJobKeys), key.str()) == std::end(kJobKeys))
      skip.emplace_back(key.str());
  }
  return skip;
}

std::optional<std::string> RefusedKey(const toml::table& table,
                                      std::span<const Refused> refused,
                                      const std::string& source) {
  for (const Refused& r : refused) {
    if (const toml::node* node = table.get(r.key))
      return text::KeyProblem(*node, source, r.key, r.why);
  }
  return std::nullopt;
}

// A text key of the job's own (a path, a name), as UTF-8.
core::Result<std::string> TextKey(const toml::node& node,
                                  const std::string& source,
                                  std::string_view key) {
  if (!node.is_string())
    return core::Failure{text::KeyProblem(node, source, key, "must be a string")};
  const std::string& value = node.as_string()->get();
  if (value.empty())
    return core::Failure{text::KeyProblem(node, source, key, "must not be empty")};
  return value;
}

fs::path Beside(const std::string& job_path, const std::string& relative) {
  const fs::path given(relative);
  return given.is_absolute() ? given : fs::path(job_path).parent_path() / given;
}

core::Result<JobStep> ReadStep(const toml::table& top,
                               const toml::node& node,
                               int number,
                               const std::string& path,
                               const text::FieldEncipher& encipher_field,
                               const FileReader& read_file) {
  if (!node.is_table())
    return core::Failure{text::KeyProblem(node, path, "step", "must be tables ([[step]])")};
  const toml::table& table = *node.as_table();
  if (std::optional<std::string> problem = RefusedKey(table, kRefusedInStep, path))
    return core::Failure{*problem};

  JobStep step;
  step.number = number;
  std::vector<text::TaskLayer> layers;
  layers.push_back({&top, path, {"state_folder", "step"}});
  toml::table task_table;
  if (const toml::node* task = table.get("task")) {
    core::Result<std::string> relative = TextKey(*task, path, "task");
    if (!relative)
      return std::move(relative).failure();
    const fs::path task_path = Beside(path, *relative);
    core::Result<std::string> task_text = read_file(task_path.string());
    if (!task_text)
      return core::Failure{text::KeyProblem(*task, path, "task", task_text.failure().text)};
    core::Result<toml::table> parsed = text::ParseToml(*task_text, task_path.string());
    if (!parsed)
      return std::move(parsed).failure();
    task_table = std::move(*parsed);
    // The RC comes from the job, and a task file's op list is for `x5ctl run`.
    layers.push_back({&task_table, task_path.string(), {"task_rc", "ops"}});
    layers.push_back({&top, path, AllButJobKeys(top)});
    if (core::Result<std::string> stem = text::AnsiFromUtf8(task_path.stem().string()); stem)
      step.name = std::move(*stem);
  }
  layers.push_back({&table, path, {"task", "name"}});
  if (const toml::node* name = table.get("name")) {
    core::Result<std::string> given = TextKey(*name, path, "name");
    if (!given)
      return std::move(given).failure();
    if (given->size() > kNameWidth)
      return core::Failure{text::KeyProblem(
          *name, path, "name", "longer than " + std::to_string(kNameWidth) + " characters")};
    core::Result<std::string> ansi = text::AnsiFromUtf8(*given);
    if (!ansi)
      return core::Failure{text::KeyProblem(*name, path, "name", ansi.failure().text)};
    step.name = std::move(*ansi);
  }
  protocol::TaskRecord start = text::DefaultTaskRecord();
  start.step_number = number;
  core::Result<text::TaskFile> task = text::ReadTaskLayers(layers, start, encipher_field);
  if (!task)
    return std::move(task).failure();
  step.task = std::move(*task);
  if (step.name.empty())
    step.name = protocol::Trimmed(step.task.task.step_directory);
  step.fingerprint = TaskFingerprint(step.task);
  return step;
}

}  // namespace

std::string TaskFingerprint(const text::TaskFile& task) {
  protocol::TaskRecord record = task.task;
  record.task_rc = 0;
  record.password.clear();
  std::vector<uint8_t> bytes = text::EncodeTaskStream(record, task.blocks);
  bytes.insert(bytes.end(), task.extra.begin(), task.extra.end());
  // FNV-1a: enough to tell a changed step, and the same on every platform.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

core::Result<Job> ParseJobFile(std::string_view toml_text,
                               const std::string& path,
                               const text::FieldEncipher& encipher_field,
                               const FileReader& read_file) {
  core::Result<toml::table> parsed = text::ParseToml(toml_text, path);
  if (!parsed)
    return std::move(parsed).failure();
  const toml::table& top = *parsed;
  if (std::optional<std::string> problem = RefusedKey(top, kRefusedAtTop, path))
    return core::Failure{*problem};
  // The job's own keys first, so that a mistake there is named once, not with every step.
  const text::TaskLayer alone{&top, path, {"state_folder", "step"}};
  core::Result<text::TaskFile> defaults =
      text::ReadTaskLayers({&alone, 1}, text::DefaultTaskRecord(), encipher_field);
  if (!defaults)
    return std::move(defaults).failure();

  Job job;
  job.path = path;
  job.task_rc = defaults->task.task_rc;
  if (const toml::node* folder = top.get("state_folder")) {
    core::Result<std::string> given = TextKey(*folder, path, "state_folder");
    if (!given)
      return std::move(given).failure();
    job.state_folder = Beside(path, *given);
  } else {
    job.state_folder = Beside(path, fs::path(path).stem().string() + ".state");
  }

  const toml::node* steps = top.get("step");
  if (steps == nullptr)
    return core::Failure{path + ": step: a job needs at least one [[step]] table"};
  if (!steps->is_array_of_tables())
    return core::Failure{text::KeyProblem(*steps, path, "step", "must be tables ([[step]])")};
  int number = 0;
  for (const toml::node& node : *steps->as_array()) {
    core::Result<JobStep> step = ReadStep(top, node, ++number, path, encipher_field, read_file);
    if (!step)
      return std::move(step).failure();
    step->task.task.task_rc = job.task_rc;
    job.steps.push_back(std::move(*step));
  }
  return job;
}

core::Result<Job> LoadJobFile(const std::string& path) {
  core::Result<std::string> text = text::ReadTomlFile(path, "job file");
  if (!text)
    return std::move(text).failure();
  return ParseJobFile(*text, path, &text::EncipherPasswordField, [](const std::string& task_path) {
    return text::ReadTomlFile(task_path, "task file");
  });
}

}  // namespace x5::ctl::job
