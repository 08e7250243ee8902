// `x5ctl job run | submit | status`: options, help and the status table.
#include "x5ctl/job/job_command.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

#include "x5ctl/host/rc_file.h"
#include "x5ctl/job/job_run.h"
#include "x5ctl/job/job_state.h"
#include "x5ctl/job/job_submit.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/subcommands/step_options.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::job {
namespace {

constexpr const char* kJobDescription =
    R"(A job file is TOML: the job's keys once (job_name, job_number, user_name,
job_base_directory, maximum_rc, task_rc, and any task key as a default for
every step; state_folder, where the job's RC file, lock and state lie), then
one [[step]] table per step, in order: task keys of its own, or
task = "FILE.toml" and keys that override it. See docs/x5ctl.md, "Jobs".)";

constexpr const char* kRunDescription =
    R"(Runs the steps of a job in order, each as `x5ctl exec` runs one: the first step
starts with the job's task RC, each next one with the RC the step before it
left, carried in the RC file in the state folder (the return-code rules skip
steps, put the job into abend mode or end it). Each step's job log goes to
standard output under a line naming the step; reports and at the end one table
(step, status, RC, flag, the step's exit code, duration, outcome) to standard
error. SIGTERM, SIGINT and SIGHUP kill the running step with its evidence and
start no further step. The state (which step, the RC it started with, each
outcome) is kept in the state folder: --from STEP starts again at a step with
the RC the job had there, --only STEP runs one step with it. A second run of
the job while one holds it is refused.

Exit status: the job's outcome by the table below (with --only, the step's).
A step that stopped the job decides (stopped from outside, a runner that failed);
otherwise the last step that ran a command, and a job whose RC at the end is
above the maximum RC abended with that RC.)";

constexpr const char* kSubmitDescription =
    R"(Submits the steps of a job as a chain of Slurm jobs: one sbatch per step, each
running `x5ctl job run JOB --only STEP` after the one before it has ended
(afterany: the return-code rules, not Slurm, decide what runs). The steps share
the job's RC file and state in its state folder, which every node must reach,
with locking (NFS without nolock). Options after the job file go to every
sbatch (--time=2:00:00, --signal=B:TERM@120, --partition=...); each step's
output goes to the state folder unless --output says otherwise. A step after
one that was cancelled or failed to run is not run. Prints each step's Slurm job
and the command that shows the outcome.

Exit status: 0 submitted, 1 not submitted (said why), 2 usage.)";

constexpr const char* kStatusDescription =
    R"(Prints the job's table from its state file, wherever its steps ran: each step's
status, RC, flag, exit code, duration and outcome, and the job's outcome.

Exit status: 0 shown, 1 the state could not be read (or the job has none),
2 the options or the job file were not understood.)";

void AddPositiveStep(CLI::App& app,
                     const char* name,
                     std::optional<int>& step,
                     const char* description) {
  app.add_option(name, step, description)->check(CLI::PositiveNumber);
}

}  // namespace

int ShowJobStatus(const std::string& job_path, bool json, std::ostream& out, std::ostream& errors) {
  core::Result<Job> job = LoadJobFile(job_path);
  if (!job) {
    errors << text::ProblemLine(job.failure().text);
    return subcommands::kToolUsage;
  }
  core::Result<std::optional<JobState>> state = ReadState(*job);
  if (!state || !*state) {
    errors << text::ProblemLine(state ? job_path + ": the job has not run yet (no state in " +
                                            job->state_folder.string() + ")"
                                      : state.failure().text);
    return subcommands::kToolIncomplete;
  }
  if (json) {
    out << JobJson(*job, **state) << "\n";
    return subcommands::kToolDone;
  }
  out << "job " << text::TerminalText(job_path) << ", " << text::VisibleText((*state)->how)
      << " (run " << text::VisibleText((*state)->run) << "):\n"
      << FormatTable(**state);
  if (const std::string changed = ChangedSteps(*job, **state); !changed.empty())
    out << "changed in the job file since they ran: step " << changed << "\n";
  if (const std::optional<step::ExecOutcome> outcome = JobOutcome(**state))
    out << "job exit status " << outcome->status << ": " << text::VisibleText(outcome->meaning)
        << "\n";
  else
    out << "the job has not ended\n";
  return subcommands::kToolDone;
}

std::function<int()> SetUpJob(CLI::App& job) {
  job.footer(kJobDescription);
  job.require_subcommand(1);

  CLI::App* run = job.add_subcommand("run", "Run the steps of a job in order on this host");
  auto run_options = std::make_shared<JobRunOptions>();
  run->footer(std::string(kRunDescription) + "\n\n" + step::kStepExitStatusHelp);
  subcommands::AddTaskAndRunnerOptions(*run, *run_options, subcommands::RunnerHelp::kAsForRun,
                                       "job", "Job file (TOML)");
  AddPositiveStep(*run, "--from", run_options->from,
                  "Start at this step, with the RC the job had there");
  AddPositiveStep(*run, "--only", run_options->only,
                  "Run this step alone, with the RC the job had there");
  subcommands::AddTimeoutOption(*run, *run_options);
  run->add_option("--json", run_options->json_file,
                  "Write each step's records and one job record as JSON lines to FILE");
  run->add_option("--kill-code", run_options->kill_code,
                  "Exit code the running step's main process is killed with on a stop request");
  run->add_option("--poll", run_options->poll_ms,
                  "Longest pause in milliseconds between the runner's status checks")
      ->default_val(500)
      ->check(CLI::Range(int64_t{1}, int64_t{60'000}));
  subcommands::AddExplainFlag(*run, *run_options);
  subcommands::AddKilledRcOption(*run, *run_options, "the job's RC file");
  // What a submitted chain's batch jobs run; not for people.
  run->add_option("--submitted-run", run_options->submitted_run)->group("");

  CLI::App* submit = job.add_subcommand(
      "submit", "Submit the steps of a job to a scheduler as a chain of jobs (Slurm)");
  auto submit_options = std::make_shared<JobSubmitOptions>();
  submit->footer(kSubmitDescription);
  submit->add_option("job", submit_options->job_path, "Job file (TOML)")->required();
  submit->add_flag("--slurm", submit_options->slurm, "Submit to Slurm with sbatch");
  AddPositiveStep(*submit, "--from", submit_options->from,
                  "Start at this step, with the RC the job had there");
  submit->add_option("--x5ctl", submit_options->x5ctl,
                     "The x5ctl the batch jobs run (default: this one)");
  for (const char* forwarded : {"--runner", "--wine", "--timeout", "--killed-rc"}) {
    submit
        ->add_option_function<std::string>(
            forwarded,
            [submit_options, forwarded](const std::string& value) {
              submit_options->run_options.push_back(std::string(forwarded) + "=" + value);
            },
            "As for `job run`, for every step")
        ->type_name("VALUE");
  }
  submit->get_option("--killed-rc")->check([](const std::string& text) {
    core::Result<host::KilledStepRc> parsed = host::ParseKilledStepRc(text);
    return parsed ? std::string() : parsed.failure().text;
  });
  // Everything after the job file that is not x5ctl's goes to sbatch, in its order.
  submit->allow_extras();

  CLI::App* status = job.add_subcommand("status", "Show the table of a job's steps from its state");
  auto status_path = std::make_shared<std::string>();
  auto status_json = std::make_shared<bool>(false);
  status->footer(kStatusDescription);
  status->add_option("job", *status_path, "Job file (TOML)")->required();
  status->add_flag("--json", *status_json, "One JSON record of the job and its steps");

  return [run, run_options, submit, submit_options, status, status_path, status_json] {
    if (*run)
      return RunJob(*run_options, std::cout, std::cerr);
    if (*submit) {
      submit_options->sbatch = submit->remaining();
      if (!submit_options->sbatch.empty() && submit_options->sbatch.front() == "--")
        submit_options->sbatch.erase(submit_options->sbatch.begin());
      return SubmitJob(*submit_options, std::cout, std::cerr);
    }
    if (*status)
      return ShowJobStatus(*status_path, *status_json, std::cout, std::cerr);
    return subcommands::kToolUsage;
  };
}

bool JobRunsSteps(const CLI::App& job) {
  return job.get_subcommand("run")->parsed();
}

}  // namespace x5::ctl::job
