// `x5ctl job run`: the job's lock and state around exec's steps.
#include "x5ctl/job/job_run.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>

#include "x5ctl/host/job_files.h"
#include "x5ctl/job/job_state.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::job {
namespace {

// The record of a step about to run in the state's run, its outcome not known yet.
StepRecord Fresh(const JobStep& step, const std::string& run) {
  StepRecord record;
  record.number = step.number;
  record.name = step.name;
  record.fingerprint = step.fingerprint;
  record.run = run;
  record.maximum_rc = step.task.task.maximum_rc;
  return record;
}

// Exec's driver for one step of the job: the task, the RC file and the stop requests the job holds,
// and the step written down as running, with the RC it got, before its runner starts.
class JobStepDriver final : public subcommands::ExecDriver {
 public:
  JobStepDriver(const JobRunOptions& options,
                const step::StepStreams& streams,
                const Job& job,
                const JobStep& step,
                host::RcFile& rc_file,
                host::StopRequests& requests,
                JobState& state)
      : ExecDriver(options, streams, step.task, rc_file, requests),
        job_(job),
        step_(step),
        state_(state) {}

  core::Result<void> Prepare(text::TaskFile& task) override {
    if (core::Result<void> prepared = ExecDriver::Prepare(task); !prepared)
      return prepared;
    StepRecord record = Fresh(step_, state_.run);
    record.stage = Stage::kRunning;
    record.rc_in = task.task.task_rc;
    record.started = text::UtcNow();
    record.host = host::HostName();
    record.process_id = host::ProcessId();
    if (const char* slurm_job = std::getenv("SLURM_JOB_ID"))
      record.slurm_job = slurm_job;
    state_.steps[static_cast<size_t>(step_.number - 1)] = std::move(record);
    if (core::Result<void> written = WriteState(job_, state_); !written)
      return written.failure().Within("the job's state: ");
    return {};
  }

 private:
  const Job& job_;
  const JobStep& step_;
  JobState& state_;
};

// What became of the step, from exec's result.
void Finish(StepRecord& record, const subcommands::ExecResult& result, double seconds) {
  record.stage = Stage::kDone;
  record.exit_status = result.outcome.status;
  record.meaning = result.outcome.meaning;
  record.seconds = seconds;
  if (result.run && result.run->final_report) {
    const protocol::StepReport& report = *result.run->final_report;
    record.status_text = report.status_text;
    record.result_flag = report.result_flag;
    record.current_rc = report.current_rc;
    record.step_exit_code = step::StepExitCodeOf(report);
  }
  record.rc_out = result.rc_file ? result.rc_file->written : std::nullopt;
  // The job goes on only after a step that ended of itself with its RC in the RC file.
  record.goes_on =
      result.CompletedReport() != nullptr && result.stop_signal == 0 && record.rc_out.has_value();
}

// Steps from..to are not run; the first says why the job stopped when that is news.
void NotRun(JobState& state,
            int from,
            int to,
            const std::string& why,
            std::optional<int> status = std::nullopt) {
  for (int n = from; n <= to; ++n) {
    StepRecord& record = state.steps[static_cast<size_t>(n - 1)];
    record.stage = Stage::kNotRun;
    record.meaning = why;
    record.exit_status = n == from ? status : std::nullopt;
  }
}

class JobRun {
 public:
  JobRun(const JobRunOptions& options, std::ostream& out, std::ostream& errors)
      : options_(options), out_(out), errors_(errors) {}

  int Run() {
    if (options_.from && options_.only)
      return Usage("give --from or --only, not both");
    if (!options_.submitted_run.empty() && !options_.only)
      return Usage("--submitted-run needs --only");
    core::Result<Job> loaded = LoadJobFile(options_.task_path);
    if (!loaded)
      return Usage(loaded.failure().text);
    job_ = std::move(*loaded);
    if (!options_.json_file.empty()) {
      json_file_ = std::make_unique<std::ofstream>(options_.json_file, std::ios::trunc);
      if (!*json_file_)
        return Usage(options_.json_file + ": cannot write the file");
      streams_ =
          std::make_unique<step::StepStreams>(step::StepStreams{*json_file_, true, errors_, &out_});
    } else {
      streams_ =
          std::make_unique<step::StepStreams>(step::StepStreams{errors_, false, errors_, &out_});
    }
    std::error_code made;
    std::filesystem::create_directories(job_.state_folder, made);
    if (made)
      return Refused(job_.state_folder.string() +
                     ": cannot make the job's state folder: " + made.message());
    // Held for the whole run: a second run of the job, or a step of it submitted elsewhere, is
    // refused meanwhile.
    core::Result<std::unique_ptr<host::RcFile>> locked =
        host::LockRcFile(job_.RcFilePath(), "job " + job_.path);
    if (!locked)
      return Refused(locked.failure().text);
    rc_file_ = std::move(*locked);
    core::Result<std::optional<JobState>> read = ReadState(job_);
    if (!read)
      return Refused(read.failure().text);
    core::Result<std::unique_ptr<host::StopRequests>> watched = host::WatchStopRequests();
    if (!watched)
      return Refused(watched.failure().text);
    requests_ = std::move(*watched);
    return options_.submitted_run.empty() ? RunSteps(std::move(*read)) : RunSubmitted(*read);
  }

 private:
  int Usage(const std::string& problem) {
    errors_ << text::ProblemLine(problem) << std::flush;
    return step::kStepExitUsage;
  }
  int Refused(const std::string& problem) {
    step::SayProblem(*streams_, problem);
    return step::kExecNotStarted;
  }

  // A run started here: from the first step, --from or --only.
  int RunSteps(std::optional<JobState> old) {
    const int steps = static_cast<int>(job_.steps.size());
    const int first = options_.only.value_or(options_.from.value_or(1));
    const int last = options_.only.value_or(steps);
    core::Result<int32_t> rc = RcAt(job_, old, first);
    if (!rc)
      return Refused(rc.failure().text);
    std::string how = "job run";
    if (options_.from)
      how += " --from " + std::to_string(first);
    if (options_.only)
      how += " --only " + std::to_string(first);
    state_ = StartRun(job_, old, first, last, NewRunName(), how);
    if (core::Result<void> written = WriteState(job_, state_); !written)
      return Refused(written.failure().Within("the job's state: ").text);
    // The RC the job had at the first step, where exec's rule reads it.
    if (core::Result<void> written = rc_file_->Write(*rc); !written)
      return Refused(written.failure().text);
    if (!streams_->json) {
      errors_ << text::ProblemLine(
          "job " + job_.path + ": " +
          (first == last ? "step " + std::to_string(first)
                         : "steps " + std::to_string(first) + " to " + std::to_string(last)) +
          " with task RC " + std::to_string(*rc) + "; the job's state is in " +
          job_.state_folder.string());
    }
    const int status = Steps(first, last);
    Summary();
    if (options_.only)
      return status;
    const std::optional<step::ExecOutcome> outcome = JobOutcome(state_);
    return outcome ? outcome->status : step::kExecBrokeOff;
  }

  // One step of a run submitted to a scheduler, with the RC the steps before it left.
  int RunSubmitted(const std::optional<JobState>& read) {
    const int n = *options_.only;
    if (!read || read->run != options_.submitted_run) {
      return Refused("step " + std::to_string(n) + " of the submitted run " +
                     options_.submitted_run + " is not run: the job was started again since (" +
                     (read ? text::VisibleText(read->how + ", run " + read->run)
                           : std::string("its state is gone")) +
                     ")");
    }
    state_ = *read;
    if (n < state_.first || n > state_.last || n > static_cast<int>(job_.steps.size()))
      return Refused("step " + std::to_string(n) + " is not part of the run " +
                     text::VisibleText(state_.run));
    StepRecord& record = state_.steps[static_cast<size_t>(n - 1)];
    std::string why;
    if (const StepRecord* stopped = StoppedBefore(state_, n)) {
      why = "the job stopped at step " + std::to_string(stopped->number) + " before it";
    } else if (record.fingerprint != job_.steps[static_cast<size_t>(n - 1)].fingerprint) {
      why = "the job file's step " + std::to_string(n) +
            " has changed since the run was submitted; submit it again from this step";
    }
    if (!why.empty()) {
      NotRun(state_, n, n, why, step::kExecNotStarted);
      step::SayProblem(*streams_, "step " + std::to_string(n) + " is not run: " + why);
      if (core::Result<void> written = WriteState(job_, state_); !written)
        step::SayProblem(*streams_, written.failure().Within("the job's state: ").text);
      Summary();
      return step::kExecNotStarted;
    }
    const int status = Steps(n, n);
    Summary();
    return status;
  }

  // Runs steps first..last, each as exec runs one; the exit status of the last one that ran.
  int Steps(int first, int last) {
    int status = step::kExecNotStarted;
    const int count = static_cast<int>(job_.steps.size());
    for (int n = first; n <= last; ++n) {
      if (const int signal = requests_->Now().stop_signal; signal > 0) {
        status = step::kExecSignalBase + signal;
        NotRun(state_, n, last,
               "stopped from outside by signal " + std::to_string(signal) + " before it started",
               status);
        SaveState();
        break;
      }
      const JobStep& step = job_.steps[static_cast<size_t>(n - 1)];
      out_ << "===== step " << n << " of " << count << ": " << text::VisibleText(step.name)
           << " =====\n"
           << std::flush;
      if (streams_->json) {
        nlohmann::json j;
        j["record"] = "step";
        j["step"] = n;
        j["name"] = text::Utf8FromAnsi(step.name);
        streams_->records << text::JsonLine(j) << "\n" << std::flush;
      }
      JobStepDriver driver(options_, *streams_, job_, step, *rc_file_, *requests_, state_);
      const auto begin = std::chrono::steady_clock::now();
      const subcommands::ExecResult result = subcommands::ExecStep(options_, driver, *streams_);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
      StepRecord& record = state_.steps[static_cast<size_t>(n - 1)];
      if (record.stage != Stage::kRunning)
        record = Fresh(step, state_.run);  // it did not get as far as its runner
      Finish(record, result, took.count());
      if (result.run)
        subcommands::SayOutcome(result, *streams_);
      status = result.outcome.status;
      if (!SaveState()) {
        // Without its record the job cannot be started again here: stop.
        record.goes_on = false;
      }
      if (!record.goes_on) {
        if (n < last)
          NotRun(state_, n + 1, last, "the job stopped at step " + std::to_string(n));
        SaveState();
        break;
      }
    }
    return status;
  }

  bool SaveState() {
    if (core::Result<void> written = WriteState(job_, state_); !written) {
      step::SayProblem(*streams_, written.failure().Within("the job's state: ").text);
      return false;
    }
    return true;
  }

  // The table and the job's outcome.
  void Summary() {
    const std::optional<step::ExecOutcome> outcome = JobOutcome(state_);
    if (streams_->json) {
      streams_->records << JobJson(job_, state_) << "\n" << std::flush;
      return;
    }
    errors_ << text::ProblemLine("job " + job_.path + ":") << FormatTable(state_);
    if (const std::string changed = ChangedSteps(job_, state_); !changed.empty())
      errors_ << text::ProblemLine("changed in the job file since they ran: step " + changed);
    errors_ << text::ProblemLine(outcome ? "job exit status " + std::to_string(outcome->status) +
                                               ": " + text::VisibleText(outcome->meaning)
                                         : std::string("the job has not ended"));
    errors_.flush();
  }

  const JobRunOptions& options_;
  std::ostream& out_;
  std::ostream& errors_;
  Job job_;
  std::unique_ptr<std::ofstream> json_file_;
  std::unique_ptr<step::StepStreams> streams_;
  std::unique_ptr<host::RcFile> rc_file_;
  std::unique_ptr<host::StopRequests> requests_;
  JobState state_;
};

}  // namespace

int RunJob(const JobRunOptions& options, std::ostream& out, std::ostream& errors) {
  return JobRun(options, out, errors).Run();
}

}  // namespace x5::ctl::job
