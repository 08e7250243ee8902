// `x5ctl job submit --slurm`: a job's steps as a chain of Slurm jobs, each `x5ctl job run --only`
// of its step after the one before it has ended (afterany: the return-code rules, not Slurm,
// decide what runs), sharing the job's RC file and state in the job's state folder.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace x5::ctl::job {

struct JobSubmitOptions {
  std::string job_path;
  bool slurm = false;
  std::optional<int> from;               // start at this step with the RC the job had there
  std::vector<std::string> sbatch;       // options for every sbatch
  std::string x5ctl;                     // the x5ctl the batch jobs run ("" this one)
  std::vector<std::string> run_options;  // passed on to each `job run` (--runner, --wine, ...)
};

// The sbatch command of one step: `first` is held until the whole chain is written down, a later
// step depends on the one before.
std::vector<std::string> SbatchCommand(const JobSubmitOptions& options,
                                       const std::string& job_name,
                                       const std::string& output,
                                       const std::string& run_command,
                                       const std::optional<std::string>& after);

// A text sh reads back as exactly these words.
std::string ShellWords(const std::vector<std::string>& words);

// Submits the job; prints each step's Slurm job and the command that shows the outcome on `out`.
// Exit status 0 submitted, 1 not submitted (said why), 2 usage.
[[nodiscard]] int SubmitJob(const JobSubmitOptions& options,
                            std::ostream& out,
                            std::ostream& errors);

}  // namespace x5::ctl::job
