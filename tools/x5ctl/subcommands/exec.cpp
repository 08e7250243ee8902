// `x5ctl exec`: the conversation of `x5ctl run` driven by stop requests instead of an op list,
// followed by the job log and the exit status of the final report.
#include "x5ctl/subcommands/exec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

#include "protocol/operator_commands.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/launch_failure.h"
#include "x5ctl/host/rc_file.h"
#include "x5ctl/subcommands/step_options.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::subcommands {
namespace {

constexpr const char* kExecDescription =
    R"(Runs one step for a scheduler: the task goes to the runner as with `run`, the step
runs to its end with no operator commands but status checks and the closing END,
then the job log (the task's console file) is printed to standard output.
Reports and problems go to standard error (with --json FILE, as JSON lines to FILE).

Stop requests become operator commands: SIGTERM, SIGINT and SIGHUP (on Windows
Ctrl+C, Ctrl+Break, closing the console) send KILL, finish the handshake, print
the job log and exit with 128 + the signal's number; another one a second or more
later ends the runner at once. SIGTSTP sends STOP (x5ctl itself does not stop),
SIGCONT sends STRT for each STOP in force.)";

// After the shared exit status table.
constexpr const char* kExecStatusNotes =
    R"(The outcome line names the exit code of the step's main process when it ran to
its end; with --fail-on-exit-code a code other than 0 turns status 0 into that
code (1..115, above 115 gives 115).

With --time-limit SEC a step still running SEC seconds after the runner started
is sent KILL (argument --kill-code, else 116), its evidence is kept as on a stop
request, and x5ctl exits with 116.

With --rc-file FILE the job's RC so far is read from FILE and used as the task
RC (a FILE that does not exist yet leaves the task's own), and after the final
report the step's final current RC is written back (into a new file renamed
over FILE). FILE.lock is held meanwhile: a second step of the same job that
starts while one runs is refused (status 123). A step killed on a stop request,
or whose end is unknown (the runner stopped answering or broke off), leaves the
job's maximum RC + 1 (or its own RC when higher), so the steps after it run only
in abend mode; --killed-rc report keeps its final report's RC, --killed-rc N
writes N. A runner that did not start leaves FILE as it was.
See docs/x5ctl.md and docs/schedulers.md.)";

text::OpStep Command(protocol::OperatorCommandKind kind, int32_t argument = 0) {
  text::OpStep step;
  step.name = protocol::NameOf(kind);
  step.argument = argument;
  return step;
}

std::string OutcomeJson(const step::ExecOutcome& outcome,
                        const std::optional<uint32_t>& step_exit_code,
                        const std::optional<RcFileUse>& rc_file) {
  nlohmann::json j;
  j["record"] = "outcome";
  j["exit_status"] = outcome.status;
  j["meaning"] = outcome.meaning;
  if (step_exit_code)
    j["step_exit_code"] = *step_exit_code;
  if (rc_file) {
    j["rc_file_read"] = rc_file->read ? nlohmann::json(*rc_file->read) : nlohmann::json();
    j["rc_file_written"] = rc_file->written ? nlohmann::json(*rc_file->written) : nlohmann::json();
  }
  return text::JsonLine(j);
}

}  // namespace

ExecOpSource::ExecOpSource(host::StopRequests& requests,
                           std::chrono::milliseconds poll_limit,
                           std::optional<int32_t> kill_code,
                           std::chrono::milliseconds time_limit)
    : requests_(requests),
      poll_limit_(std::max(poll_limit, std::chrono::milliseconds(1))),
      kill_code_(kill_code),
      // Requests answered in an earlier step of a job are not this step's.
      holds_seen_(requests.Now().holds),
      resumes_seen_(requests.Now().resumes),
      time_limit_(time_limit) {}

void ExecOpSource::Answered(const step::ReportRecord& report) {
  if (protocol::IsFinal(report.report.phase))
    over_ = true;
}

std::optional<text::OpStep> ExecOpSource::Next() {
  // The time counts from the first command, just after the runner answered "Started ".
  if (!started_)
    started_ = std::chrono::steady_clock::now();
  for (;;) {
    // A second stop request: the END handshake that follows fails at once and the runner is
    // ended.
    if (over_ || requests_.Requested())
      return std::nullopt;
    const host::StopRequests::Noted noted = requests_.Now();
    if (noted.stop_signal > 0) {
      over_ = true;
      return Command(protocol::OperatorCommandKind::kKill,
                     kill_code_.value_or(128 + noted.stop_signal));
    }
    if (noted.holds > holds_seen_) {
      ++holds_seen_;
      ++holding_;
      return Command(protocol::OperatorCommandKind::kHold);
    }
    if (noted.resumes > resumes_seen_) {
      resumes_seen_ = noted.resumes;
      resumes_due_ += std::exchange(holding_, 0);
    }
    if (resumes_due_ > 0) {
      --resumes_due_;
      return Command(protocol::OperatorCommandKind::kResume);
    }
    std::chrono::milliseconds wait = interval_;
    if (time_limit_.count() > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          *started_ + time_limit_ - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        over_ = time_limit_reached_ = true;
        return Command(protocol::OperatorCommandKind::kKill,
                       kill_code_.value_or(step::kExecTimeLimit));
      }
      wait = std::min(wait, left);
    }
    if (!requests_.WaitFor(wait)) {
      interval_ = std::min(interval_ * 2, poll_limit_);
      return Command(protocol::OperatorCommandKind::kStatus);
    }
  }
}

ExecDriver::ExecDriver(const ExecOptions& options, const step::StepStreams& streams)
    : options_(options), streams_(streams) {}

ExecDriver::ExecDriver(const ExecOptions& options,
                       const step::StepStreams& streams,
                       const text::TaskFile& task,
                       host::RcFile& rc_file,
                       host::StopRequests& requests)
    : options_(options),
      streams_(streams),
      lent_task_(&task),
      rc_file_(&rc_file),
      requests_(&requests) {}

core::Result<text::TaskFile> ExecDriver::Task(const step::StepOptions& options) {
  if (lent_task_ != nullptr)
    return *lent_task_;
  return StepDriver::Task(options);
}

core::Result<void> ExecDriver::Prepare(text::TaskFile& task) {
  if (rc_file_ == nullptr && !options_.rc_file.empty()) {
    core::Result<std::unique_ptr<host::RcFile>> locked =
        host::LockRcFile(options_.rc_file, "task " + options_.task_path);
    if (!locked)
      return std::move(locked).failure();
    own_rc_file_ = std::move(*locked);
    rc_file_ = own_rc_file_.get();
  }
  if (rc_file_ != nullptr) {
    core::Result<std::optional<int32_t>> rc = rc_file_->Read();
    if (!rc)
      return std::move(rc).failure();
    rc_use_.emplace();
    rc_use_->read = *rc;
    if (*rc)
      task.task.task_rc = **rc;
    if (!streams_.json) {
      const std::string name = rc_file_->Path().string();
      streams_.errors << text::ProblemLine(
          *rc ? "task RC " + std::to_string(**rc) + " from " + name
              : name + " does not exist yet: the task's own task RC " +
                    std::to_string(task.task.task_rc) + " starts the job");
    }
  }
  if (requests_ == nullptr) {
    core::Result<std::unique_ptr<host::StopRequests>> watched = host::WatchStopRequests();
    if (!watched)
      return std::move(watched).failure();
    own_requests_ = std::move(*watched);
    requests_ = own_requests_.get();
  }
  ops_.emplace(*requests_, std::chrono::milliseconds(options_.poll_ms), options_.kill_code,
               std::chrono::milliseconds(static_cast<int64_t>(options_.time_limit_seconds * 1000)));
  return {};
}

const protocol::StepReport* ExecResult::CompletedReport() const {
  if (!run || run->conversation.end != step::ConversationEnd::kCompleted || !run->final_report)
    return nullptr;
  return &*run->final_report;
}

ExecResult ExecStep(const ExecOptions& options,
                    ExecDriver& driver,
                    const step::StepStreams& streams) {
  ExecResult result;
  core::Result<step::StepRun> run = step::RunStep(options, driver, streams);
  result.stop_signal = driver.StopSignal();
  if (!run) {
    result.outcome = {step::kExecNotStarted, run.failure().text};
    return result;
  }
  result.run = std::move(*run);
  const std::optional<protocol::StepReport>& final_report = result.run->final_report;
  result.outcome = step::WithCaptureKept(
      step::WithStepExitCode(
          step::OutcomeOfExec(result.run->conversation.end, final_report, result.stop_signal,
                              driver.TimeLimitReached() ? options.time_limit_seconds : 0),
          final_report, result.stop_signal, options.fail_on_exit_code),
      *result.run);
  if (host::RcFile* rc_file = driver.rc_file()) {
    const std::string name = rc_file->Path().string();
    // A step killed on request, or whose end is unknown, must not leave the chain going on as if
    // nothing had happened; only an RC the runner gave at the very end is otherwise the step's.
    const protocol::StepReport* report = result.CompletedReport();
    const bool started = result.run->conversation.end != step::ConversationEnd::kNotStarted;
    const bool killed = started && (result.stop_signal > 0 || report == nullptr);
    const std::optional<int32_t> report_rc =
        report != nullptr ? std::optional<int32_t>(report->current_rc) : std::nullopt;
    const std::optional<int32_t> to_write =
        killed
            ? host::RcOfKilledStep(options.killed_rc, result.run->task.task.maximum_rc, report_rc)
            : report_rc;
    if (to_write) {
      const int32_t rc = *to_write;
      if (core::Result<void> written = rc_file->Write(rc); written) {
        driver.rc_use()->written = rc;
        if (!streams.json)
          streams.errors << text::ProblemLine(
              "RC " + std::to_string(rc) + " written to " + name +
              (killed ? std::string(" (the step was killed or its end is unknown: see --killed-rc)")
                      : std::string()));
      } else {
        step::SayProblem(streams, written.failure().text);
        // A chain must not go on as if this step had left its RC.
        if (result.outcome.status == step::kExecSucceeded)
          result.outcome = {step::kExecNotStarted,
                            "the step ran, but its RC could not be written to " + name};
      }
    } else {
      step::SayProblem(
          streams, name + " left as it was: " +
                       (started ? "the runner gave no final report" : "the runner did not start"));
    }
  }
  result.rc_file = driver.rc_use();
  if (!result.run->console_file_problem.empty())
    result.outcome.meaning +=
        "; the console file could not be written: " + result.run->console_file_problem;
  if (const auto failure = result.run->conversation.final_report
                               ? step::LaunchFailureIn(*result.run->conversation.final_report)
                               : std::nullopt)
    result.outcome.meaning += "; " + step::LaunchCodeMeaning(failure->code);
  return result;
}

void SayOutcome(const ExecResult& result, const step::StepStreams& streams) {
  if (streams.json) {
    const std::optional<protocol::StepReport>& final_report =
        result.run ? result.run->final_report : std::nullopt;
    streams.records << OutcomeJson(
                           result.outcome,
                           final_report ? step::StepExitCodeOf(*final_report) : std::nullopt,
                           result.rc_file)
                    << "\n"
                    << std::flush;
  } else {
    streams.errors << text::ProblemLine("exit status " + std::to_string(result.outcome.status) +
                                        ": " + result.outcome.meaning);
  }
  streams.errors.flush();
}

int RunExec(const ExecOptions& options, std::ostream& job_log, std::ostream& errors) {
  std::unique_ptr<std::ofstream> json_file;
  if (!options.json_file.empty()) {
    json_file = std::make_unique<std::ofstream>(options.json_file, std::ios::trunc);
    if (!*json_file) {
      errors << text::ProblemLine(options.json_file + ": cannot write the file") << std::flush;
      return step::kExecNotStarted;
    }
  }
  std::ostream* json = json_file.get();
  const step::StepStreams streams{json != nullptr ? *json : errors, json != nullptr, errors,
                                  &job_log};
  ExecDriver driver(options, streams);
  const ExecResult result = ExecStep(options, driver, streams);
  // A step that did not get as far as a runner has said why already.
  if (!result.run)
    return result.outcome.status;
  SayOutcome(result, streams);
  return result.outcome.status;
}

std::function<int()> SetUpExec(CLI::App& exec) {
  auto options = std::make_shared<ExecOptions>();
  exec.footer(std::string(kExecDescription) + "\n\n" + step::kStepExitStatusHelp + "\n" +
              kExecStatusNotes);
  AddTaskAndRunnerOptions(exec, *options, RunnerHelp::kAsForRun);
  AddTimeoutOption(exec, *options);
  AddCaptureOption(exec, *options);
  exec.add_option("--json", options->json_file,
                  "Write the reports and the outcome as JSON lines to FILE instead of readable "
                  "lines to standard error");
  exec.add_option("--kill-code", options->kill_code,
                  "Exit code the step's main process is killed with on a stop request (default: "
                  "128 + the signal's number)");
  exec.add_option("--poll", options->poll_ms,
                  "Longest pause in milliseconds between the runner's status checks")
      ->default_val(500)
      ->check(CLI::Range(int64_t{1}, int64_t{60'000}));
  AddExplainFlag(exec, *options);
  exec.add_option("--time-limit", options->time_limit_seconds,
                  "Seconds the step may run: then it is sent KILL (with its evidence: pictures, "
                  "the job log, the final report) and x5ctl exits with 116")
      ->check(CLI::Range(0.0, 31'536'000.0));
  exec.add_flag("--fail-on-exit-code", options->fail_on_exit_code,
                "A step that ran and let the job go on fails all the same when its main "
                "process's exit code is not 0 (exit status: that code, 1..115)");
  exec.add_option("--rc-file", options->rc_file,
                  "The job's RC so far: read from FILE as the task RC, the step's final current "
                  "RC written back after the final report (FILE.lock held meanwhile)");
  AddKilledRcOption(exec, *options, "--rc-file");
  return [options] { return RunExec(*options, std::cout, std::cerr); };
}

void AddKilledRcOption(CLI::App& app, ExecOptions& options, const std::string& rc_file) {
  app.add_option_function<std::string>(
         "--killed-rc",
         [&options](const std::string& text) {
           options.killed_rc = *host::ParseKilledStepRc(text);  // checked below, before this
         },
         "What " + rc_file +
             " gets from a step killed on request or whose end is unknown: abend (the job's "
             "maximum RC + 1), report (its final report's RC) or a number")
      ->default_str("abend")
      ->check([](const std::string& text) {
        core::Result<host::KilledStepRc> parsed = host::ParseKilledStepRc(text);
        return parsed ? std::string() : parsed.failure().text;
      });
}

}  // namespace x5::ctl::subcommands
