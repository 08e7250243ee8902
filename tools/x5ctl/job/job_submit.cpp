// `x5ctl job submit --slurm`: the chain of sbatch calls, written down in the job's state before the
// first of them may start.
#include "x5ctl/job/job_submit.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>

#include "x5ctl/host/child_process.h"
#include "x5ctl/job/job_state.h"
#include "x5ctl/host/rc_file.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::job {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int code = -1;
  std::string out;
};

// Runs a command of the scheduler (searched on PATH): its exit code and standard output.
core::Result<Ran> RunCommand(const std::vector<std::string>& argv) {
  core::Result<std::unique_ptr<host::ChildProcess>> started = host::StartChildProcess(argv);
  if (!started)
    return core::Failure{argv[0] + ": cannot start it: " + started.failure().text};
  host::ChildProcess& child = **started;
  child.CloseInput();
  const host::Deadline deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  Ran ran;
  ran.out = child.ReadUntilEnd(deadline);
  const std::optional<int32_t> code = child.Wait(deadline);
  if (!code) {
    child.Kill();
    return core::Failure{argv[0] + ": did not end within two minutes"};
  }
  ran.code = *code;
  return ran;
}

// sbatch --parsable prints "ID" or "ID;CLUSTER".
core::Result<std::string> SlurmJobId(const Ran& ran) {
  std::string id = ran.out.substr(0, ran.out.find_first_of(";\r\n"));
  if (ran.code != 0 || id.empty() ||
      !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return core::Failure{
        "sbatch ended with exit status " + std::to_string(ran.code) +
        (ran.out.empty() ? std::string() : ", saying " + text::VisibleText(ran.out))};
  return id;
}

void CancelAll(const std::vector<std::string>& ids) {
  if (ids.empty())
    return;
  std::vector<std::string> argv{"scancel"};
  argv.insert(argv.end(), ids.begin(), ids.end());
  (void)RunCommand(argv);  // a failure leaves held or waiting jobs that the message names
}

}  // namespace

std::string ShellWords(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty())
      text += ' ';
    text += '\'';
    for (const char c : word)
      text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text += '\'';
  }
  return text;
}

std::vector<std::string> SbatchCommand(const JobSubmitOptions& options,
                                       const std::string& job_name,
                                       const std::string& output,
                                       const std::string& run_command,
                                       const std::optional<std::string>& after) {
  std::vector<std::string> argv{"sbatch", "--parsable", "--job-name=" + job_name,
                                "--output=" + output,
                                after ? "--dependency=afterany:" + *after : "--hold"};
  // The user's options come after these, so that theirs win where they name the same.
  argv.insert(argv.end(), options.sbatch.begin(), options.sbatch.end());
  // exec: x5ctl is the batch step's own process, so the signals meant for the step reach it.
  argv.push_back("--wrap=exec " + run_command);
  return argv;
}

int SubmitJob(const JobSubmitOptions& options, std::ostream& out, std::ostream& errors) {
  const auto failed = [&](const std::string& problem, int status = subcommands::kToolIncomplete) {
    errors << text::ProblemLine(problem) << std::flush;
    return status;
  };
  if (!options.slurm)
    return failed("name the scheduler to submit to: --slurm (the only one so far)",
                  subcommands::kToolUsage);
  core::Result<Job> loaded = LoadJobFile(options.job_path);
  if (!loaded)
    return failed(loaded.failure().text, subcommands::kToolUsage);
  const Job& job = *loaded;
  std::error_code made;
  fs::create_directories(job.state_folder, made);
  if (made)
    return failed(job.state_folder.string() +
                  ": cannot make the job's state folder: " + made.message());

  core::Result<std::unique_ptr<host::RcFile>> locked =
      host::LockRcFile(job.RcFilePath(), "job submit " + job.path);
  if (!locked)
    return failed(locked.failure().text);
  core::Result<std::optional<JobState>> read = ReadState(job);
  if (!read)
    return failed(read.failure().text);
  const int first = options.from.value_or(1);
  const int last = static_cast<int>(job.steps.size());
  core::Result<int32_t> rc = RcAt(job, *read, first);
  if (!rc)
    return failed(rc.failure().text);
  const std::string run = NewRunName();
  JobState state = StartRun(
      job, *read, first, last, run,
      "job submit --slurm" + (options.from ? " --from " + std::to_string(first) : std::string()));
  if (core::Result<void> written = WriteState(job, state); !written)
    return failed(written.failure().Within("the job's state: ").text);
  if (core::Result<void> written = (*locked)->Write(*rc); !written)
    return failed(written.failure().text);

  const std::string x5ctl = !options.x5ctl.empty()
                                ? options.x5ctl
                                : (fs::path(host::ExecutableDirectory()) / "x5ctl").string();
  const std::string job_path = fs::absolute(job.path).string();
  const std::string job_name =
      text::Utf8FromAnsi(protocol::Trimmed(job.steps.front().task.task.job_name));
  std::vector<std::string> ids;
  for (int n = first; n <= last; ++n) {
    std::vector<std::string> run_words{
        x5ctl, "job", "run", job_path, "--only", std::to_string(n), "--submitted-run", run};
    run_words.insert(run_words.end(), options.run_options.begin(), options.run_options.end());
    const std::string output =
        (fs::absolute(job.state_folder) / ("step-" + std::to_string(n) + "-%j.log")).string();
    const std::optional<std::string> after =
        ids.empty() ? std::nullopt : std::optional<std::string>(ids.back());
    core::Result<Ran> ran =
        RunCommand(SbatchCommand(options, job_name, output, ShellWords(run_words), after));
    core::Result<std::string> id =
        ran ? SlurmJobId(*ran) : core::Result<std::string>(ran.failure());
    if (!id) {
      CancelAll(ids);
      for (int k = first; k <= last; ++k) {
        StepRecord& record = state.steps[static_cast<size_t>(k - 1)];
        record.stage = Stage::kNotRun;
        record.meaning = "the submission failed";
      }
      (void)WriteState(job, state);  // the failure itself is what the user must know
      return failed("step " + std::to_string(n) + " could not be submitted: " + id.failure().text +
                    (ids.empty() ? std::string() : "; the steps before it were cancelled"));
    }
    state.steps[static_cast<size_t>(n - 1)].slurm_job = *id;
    ids.push_back(*id);
  }
  if (core::Result<void> written = WriteState(job, state); !written) {
    CancelAll(ids);
    return failed(written.failure().Within("the job's state: ").text +
                  "; the submitted jobs were cancelled");
  }
  // The first step may start only now that the chain is written down, and must find the job's RC
  // file free.
  locked->reset();
  core::Result<Ran> released = RunCommand({"scontrol", "release", ids.front()});
  if (!released || released->code != 0)
    return failed("the chain is submitted but its first job " + ids.front() +
                  " is held: release it with `scontrol release " + ids.front() + "`");
  for (int n = first; n <= last; ++n) {
    out << "step " << n << " (" << text::VisibleText(job.steps[static_cast<size_t>(n - 1)].name)
        << "): Slurm job " << ids[static_cast<size_t>(n - first)] << "\n";
  }
  out << "x5ctl job status " << text::TerminalText(ShellWords({job_path})) << "\n" << std::flush;
  return subcommands::kToolDone;
}

}  // namespace x5::ctl::job
