// `x5ctl exec`: one runner step as an ordinary command, for schedulers that start commands and stop
// them with signals. It runs the task as `x5ctl run` does, turns stop requests from outside into
// operator commands, prints the step's job log and exits with a status that tells the outcome.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "protocol/operator_commands.h"
#include "x5ctl/host/rc_file.h"
#include "x5ctl/host/stop_requests.h"
#include "x5ctl/step/conversation.h"
#include "x5ctl/step/run_step.h"

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

// The operator commands of `x5ctl exec`: it asks "STAT" at growing intervals up to `poll_limit`
// (the runner notices the end of its step only when a command arrives, and keeps listening for
// KILL only as long as it has not been sent "END "), and turns stop requests into "KILL"
// (argument `kill_code`, else 128 + the request's number), hold requests into "STOP" and a resume
// request into one "STRT" for each hold still in force. With a time limit, the step still running
// when it is up is sent "KILL" (argument `kill_code`, else the time limit's exit status). It ends
// once a final report has arrived or KILL has been sent; the conversation then finishes with
// "END ".
class ExecOpSource final : public step::OpSource {
 public:
  ExecOpSource(host::StopRequests& requests,
               std::chrono::milliseconds poll_limit,
               std::optional<int32_t> kill_code,
               std::chrono::milliseconds time_limit = {});
  std::optional<text::OpStep> Next() override;
  // The polls are not printed; commands sent on a request are.
  bool Shown(const text::OpStep& step) const override {
    return protocol::KindOf(step.name) != protocol::OperatorCommandKind::kStatus;
  }
  void Answered(const step::ReportRecord& report) override;
  // Whether the time limit was up and KILL was sent for it.
  bool TimeLimitReached() const { return time_limit_reached_; }

 private:
  host::StopRequests& requests_;
  std::chrono::milliseconds poll_limit_;
  std::chrono::milliseconds interval_{10};
  std::optional<int32_t> kill_code_;
  bool over_ = false;
  int holds_seen_ = 0;
  int resumes_seen_ = 0;
  int holding_ = 0;      // "STOP"s sent and not yet resumed
  int resumes_due_ = 0;  // "STRT"s still to send
  std::chrono::milliseconds time_limit_;
  std::optional<std::chrono::steady_clock::time_point> started_;
  bool time_limit_reached_ = false;
};

struct ExecOptions : step::StepOptions {
  std::string json_file;  // JSON lines of the conversation go here instead of readable lines
  std::optional<int32_t> kill_code;
  int64_t poll_ms = 500;
  double time_limit_seconds = 0;  // 0: none
  // The job's RC so far: read as the task RC before the step, the final current RC written back
  // after it. Held locked for the whole step.
  std::string rc_file;
  // What the RC file gets from a killed step or one whose end is unknown.
  host::KilledStepRc killed_rc;
};

// What became of the RC file in a step.
struct RcFileUse {
  std::optional<int32_t> read;     // the RC read as the task RC; nullopt: the file did not exist
  std::optional<int32_t> written;  // the RC written back; nullopt: the file was left as it was
};

// Exec's part of a step: the RC file and the stop requests. Exec takes both for its one step; a
// job takes them once for all its steps and lends them to each, with the step's task.
class ExecDriver : public step::StepDriver {
 public:
  ExecDriver(const ExecOptions& options, const step::StepStreams& streams);
  ExecDriver(const ExecOptions& options,
             const step::StepStreams& streams,
             const text::TaskFile& task,
             host::RcFile& rc_file,
             host::StopRequests& requests);

  core::Result<text::TaskFile> Task(const step::StepOptions& options) override;
  core::Result<void> Prepare(text::TaskFile& task) override;
  step::OpSource& Ops() override { return *ops_; }
  const host::Interrupt* Interruption() const override { return requests_; }

  // The first stop request's number, 0 for none.
  int StopSignal() const { return requests_ != nullptr ? requests_->Now().stop_signal : 0; }
  // Whether the step's time limit was up and KILL was sent for it.
  bool TimeLimitReached() const { return ops_ && ops_->TimeLimitReached(); }
  host::RcFile* rc_file() const { return rc_file_; }
  const std::optional<RcFileUse>& rc_use() const { return rc_use_; }
  std::optional<RcFileUse>& rc_use() { return rc_use_; }

 private:
  const ExecOptions& options_;
  const step::StepStreams& streams_;
  const text::TaskFile* lent_task_ = nullptr;
  // Exec's own, held from before the RC is read until after the new one is written; a job's are
  // lent.
  std::unique_ptr<host::RcFile> own_rc_file_;
  std::unique_ptr<host::StopRequests> own_requests_;
  host::RcFile* rc_file_ = nullptr;
  host::StopRequests* requests_ = nullptr;
  std::optional<RcFileUse> rc_use_;
  std::optional<ExecOpSource> ops_;
};

// What became of one step run as exec runs it.
struct ExecResult {
  step::ExecOutcome outcome;
  std::optional<step::StepRun> run;  // nullopt: the step did not get as far as starting a runner
  std::optional<RcFileUse> rc_file;
  int stop_signal = 0;
  // The step's final report, when the conversation completed with one: only then is its RC the
  // step's.
  const protocol::StepReport* CompletedReport() const;
};

// Runs one step with `driver` and finishes it as exec does: the outcome by the exit status table,
// the RC written back to the RC file, problems said on `streams`. The outcome line itself is the
// caller's (SayOutcome).
[[nodiscard]] ExecResult ExecStep(const ExecOptions& options,
                                  ExecDriver& driver,
                                  const step::StepStreams& streams);

// The outcome of a step: "x5ctl: exit status N: meaning" on the errors, or the JSON outcome record.
void SayOutcome(const ExecResult& result, const step::StepStreams& streams);

// Runs the step and returns the exit status of the documented table (step/exit_status.h). The job
// log goes to `job_log`, everything else (reports, problems, the outcome) to `errors`, or as JSON
// lines to the JSON file.
[[nodiscard]] int RunExec(const ExecOptions& options, std::ostream& job_log, std::ostream& errors);

// --killed-rc: what the RC file (named `rc_file` in the help) gets from a step killed on request or
// whose end is unknown; for exec and for a job's steps.
void AddKilledRcOption(CLI::App& app, ExecOptions& options, const std::string& rc_file);

// Declares exec's arguments and options on its subcommand; the handler runs it once they are
// parsed (job log to standard output, the rest to standard error) and returns the exit status.
[[nodiscard]] std::function<int()> SetUpExec(CLI::App& exec);

}  // namespace x5::ctl::subcommands
