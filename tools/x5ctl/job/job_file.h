// Job files: the job's keys once, then its steps in order, each a task in the task file's
// vocabulary (its own keys, or a task file with overrides), read with the task file reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::job {

struct JobStep {
  int number = 0;  // its place in the job, from 1
  // `name`, else the task file's name without .toml, else the step directory; ANSI bytes, as the
  // task's texts are.
  std::string name;
  text::TaskFile task;
  // What the step's task is, without the RC it starts with and the password, so that a step changed
  // since it ran can be told.
  std::string fingerprint;
};

struct Job {
  std::string path;  // the job file, as given
  // Where the job's RC file, its lock and its state lie (on storage every node mounts, for a job
  // run on a cluster).
  std::filesystem::path state_folder;
  int32_t task_rc = 1;  // the RC the first step starts with
  std::vector<JobStep> steps;

  std::filesystem::path RcFilePath() const { return state_folder / "job.rc"; }
  std::filesystem::path StatePath() const { return state_folder / "job-state.json"; }
};

// Reads a file a job names (its task files); the job file reader passes the task file reader's.
using FileReader = std::function<core::Result<std::string>(const std::string& path)>;

// Parses a job file's text. Task files and the state folder are found relative to `path`'s folder.
// A refusal reads "FILE:LINE: key: problem", FILE being the job file or the task file at fault.
core::Result<Job> ParseJobFile(std::string_view toml_text,
                               const std::string& path,
                               const text::FieldEncipher& encipher_field,
                               const FileReader& read_file);

// Reads and parses the job file at `path`.
core::Result<Job> LoadJobFile(const std::string& path);

// The fingerprint of a task (see JobStep).
std::string TaskFingerprint(const text::TaskFile& task);

}  // namespace x5::ctl::job
