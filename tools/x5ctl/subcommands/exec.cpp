// `x5ctl exec`: the conversation of `x5ctl run` driven by stop requests instead of an op list,
// followed by the job log and the exit status of the final report.
#include "x5ctl/subcommands/exec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>

#include "cipher/password_cipher.h"
#include "x5ctl/host/wine_host.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/step/rc_file.h"
#include "x5ctl/step/launch_failure.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"
#include "x5ctl/text/task_file.h"

namespace x5 {
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
code (1..119, above 119 gives 119).

With --rc-file FILE the job's RC so far is read from FILE and used as the task
RC (a FILE that does not exist yet leaves the task's own), and after the final
report the step's final current RC is written back (into a new file renamed
over FILE). FILE.lock is held meanwhile: a second step of the same job that
starts while one runs is refused (status 123). Without a final report FILE is
left as it was.
See docs/x5ctl.md and docs/schedulers.md.)";

OpStep Command(const char* name, int32_t argument = 0) {
  OpStep step;
  step.name = Padded(name, 4);
  step.argument = argument;
  return step;
}

std::string EncipherForTask(std::string_view plain) {
  return cipher::EncipherField(plain);
}

// What the console file looked like before the run, so that a file the runner did not write
// (it was killed first, say) is not printed as this run's job log.
struct FileStamp {
  bool exists = false;
  std::filesystem::file_time_type written{};
  uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::filesystem::path& path) {
  std::error_code ec;
  FileStamp stamp;
  stamp.exists = std::filesystem::is_regular_file(path, ec);
  if (!stamp.exists)
    return stamp;
  stamp.written = std::filesystem::last_write_time(path, ec);
  stamp.size = std::filesystem::file_size(path, ec);
  return stamp;
}

// What happened to the RC file, for the outcome.
struct RcFileUse {
  std::optional<int32_t> read;
  std::optional<int32_t> written;
};

std::string OutcomeJson(const ExecOutcome& outcome,
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
  return j.dump();
}

// Problems before the conversation: to standard error, and to the JSON file when there is one.
void Say(std::ostream& errors, std::ostream* json, const std::string& message) {
  errors << "x5ctl: " << message << "\n";
  errors.flush();
  if (json != nullptr)
    *json << ErrorJson(message) << "\n" << std::flush;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

ExecOpSource::ExecOpSource(StopRequests& requests,
                           std::chrono::milliseconds poll_limit,
                           std::optional<int32_t> kill_code)
    : requests_(requests),
      poll_limit_(std::max(poll_limit, std::chrono::milliseconds(1))),
      kill_code_(kill_code) {}

void ExecOpSource::Answered(const ReportRecord& report) {
  if (report.report.phase >= 4)
    over_ = true;
}

std::optional<OpStep> ExecOpSource::Next() {
  for (;;) {
    // A second stop request: the END handshake that follows fails at once and the runner is
    // ended.
    if (over_ || requests_.Requested())
      return std::nullopt;
    const StopRequests::Noted noted = requests_.Now();
    if (noted.stop_signal > 0) {
      over_ = true;
      return Command("KILL", kill_code_.value_or(128 + noted.stop_signal));
    }
    if (noted.holds > holds_seen_) {
      ++holds_seen_;
      ++holding_;
      return Command("STOP");
    }
    if (noted.resumes > resumes_seen_) {
      resumes_seen_ = noted.resumes;
      resumes_due_ += std::exchange(holding_, 0);
    }
    if (resumes_due_ > 0) {
      --resumes_due_;
      return Command("STRT");
    }
    if (!requests_.WaitFor(interval_)) {
      interval_ = std::min(interval_ * 2, poll_limit_);
      return Command("STAT");
    }
  }
}

int RunExec(const ExecOptions& options, std::ostream& job_log, std::ostream& errors) {
  std::unique_ptr<std::ofstream> json_file;
  if (!options.json_file.empty()) {
    json_file = std::make_unique<std::ofstream>(options.json_file, std::ios::trunc);
    if (!*json_file) {
      Say(errors, nullptr, options.json_file + ": cannot write the file");
      return kExecNotStarted;
    }
  }
  std::ostream* json = json_file.get();
  TaskFileResult loaded = LoadTaskFile(options.task_path, &EncipherForTask);
  if (!loaded.file) {
    Say(errors, json, loaded.error);
    return kExecNotStarted;
  }
  TaskFile& task = *loaded.file;
  std::string problem;
  const std::string runner = RunnerPath(options.runner, problem);
  if (runner.empty()) {
    Say(errors, json, problem);
    return kExecNotStarted;
  }
  // Under Wine without a display or a prefix the runner would hang or build a prefix on the fly:
  // say what is missing instead.
  if (const std::string missing = WineHostProblem(ReadWineHostFacts(options.wine));
      !missing.empty()) {
    Say(errors, json, missing);
    return kExecNotStarted;
  }
  // Held until x5ctl ends: from before the RC is read until after the new one is written.
  std::unique_ptr<RcFile> rc_file;
  std::optional<RcFileUse> rc_use;
  if (!options.rc_file.empty()) {
    Result<std::unique_ptr<RcFile>> locked =
        LockRcFile(options.rc_file, "task " + options.task_path);
    if (!locked) {
      Say(errors, json, locked.failure().text);
      return kExecNotStarted;
    }
    rc_file = std::move(*locked);
    Result<std::optional<int32_t>> rc = rc_file->Read();
    if (!rc) {
      Say(errors, json, rc.failure().text);
      return kExecNotStarted;
    }
    rc_use.emplace();
    rc_use->read = *rc;
    if (*rc)
      task.task.task_rc = **rc;
    if (json == nullptr) {
      errors << "x5ctl: "
             << (*rc ? "task RC " + std::to_string(**rc) + " from " + options.rc_file
                     : options.rc_file + " does not exist yet: the task's own task RC " +
                           std::to_string(task.task.task_rc) + " starts the job")
             << "\n";
    }
  }
  std::string error;
  std::unique_ptr<StopRequests> requests = WatchStopRequests(error);
  if (!requests) {
    Say(errors, json, error);
    return kExecNotStarted;
  }

  const std::string console_file = Trimmed(task.task.console_file);
  const std::filesystem::path log_path =
      console_file.empty() ? std::filesystem::path() : LocalPathOf(console_file, options.wine);
  const FileStamp before = console_file.empty() ? FileStamp{} : StampOf(log_path);

  RunnerSession session;
  session.SetTimeout(
      std::chrono::milliseconds(static_cast<int64_t>(options.timeout_seconds * 1000)));
  session.SetInterrupt(requests.get());
  ConversationResult result;
  if (session.Start(runner, options.wine)) {
    ExecOpSource ops(*requests, std::chrono::milliseconds(options.poll_ms), options.kill_code);
    ConversationOptions conversation;
    conversation.json = json != nullptr;
    result = RunConversation(session, task.Stream(), ops, conversation,
                             json != nullptr ? *json : errors, errors);
  } else {
    result.end = ConversationEnd::kNotStarted;
    Say(errors, json, session.LastError());
  }
  if (!options.capture.empty() && !WriteBytes(options.capture, session.Received()))
    Say(errors, json, options.capture + ": cannot write the file");

  std::string log_bytes;
  if (console_file.empty()) {
    Say(errors, json, "the task names no console file, so there is no job log to print");
  } else if (log_path.empty()) {
    Say(errors, json, "the job log " + console_file + " lies where x5ctl cannot read it");
  } else if (StampOf(log_path) == before) {
    Say(errors, json, "the runner did not write the job log " + log_path.string() + " in this run");
  } else {
    std::ifstream in(log_path, std::ios::binary);
    log_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    job_log << PrintableJobLog(log_bytes) << std::flush;
  }
  if (options.explain) {
    const std::string paragraph = ExplainStep(DecodeRunnerStream(session.Received()), log_bytes);
    if (json != nullptr)
      *json << ExplanationJson(paragraph) << "\n" << std::flush;
    else
      errors << "explanation: " << VisibleText(paragraph) << "\n";
  }

  std::optional<StepReport> final_report;
  if (result.final_report)
    final_report = result.final_report->report;
  const int stop_signal = requests->Now().stop_signal;
  ExecOutcome outcome = WithStepExitCode(OutcomeOfExec(result.end, final_report, stop_signal),
                                         final_report, stop_signal, options.fail_on_exit_code);
  if (rc_file) {
    // Only an RC the runner gave at the very end is the step's; without one the next step runs
    // with the RC this one had.
    if (result.end == ConversationEnd::kCompleted && final_report) {
      const int32_t rc = final_report->current_rc;
      if (Result<void> written = rc_file->Write(rc); written) {
        rc_use->written = rc;
        if (json == nullptr)
          errors << "x5ctl: RC " << rc << " written to " << options.rc_file << "\n";
      } else {
        Say(errors, json, written.failure().text);
        // A chain must not go on as if this step had left its RC.
        if (outcome.status == kExecSucceeded)
          outcome = {kExecNotStarted,
                     "the step ran, but its RC could not be written to " + options.rc_file};
      }
    } else {
      Say(errors, json, options.rc_file + " left as it was: the runner gave no final report");
    }
  }
  if (const auto failure =
          result.final_report ? LaunchFailureIn(result.final_report->text) : std::nullopt)
    outcome.meaning += "; " + LaunchCodeMeaning(failure->code);
  if (json != nullptr)
    *json << OutcomeJson(outcome, final_report ? StepExitCodeOf(*final_report) : std::nullopt,
                         rc_use)
          << "\n"
          << std::flush;
  else
    errors << "x5ctl: exit status " << outcome.status << ": " << outcome.meaning << "\n";
  errors.flush();
  return outcome.status;
}

std::function<int()> SetUpExec(CLI::App& exec) {
  auto options = std::make_shared<ExecOptions>();
  exec.footer(std::string(kExecDescription) + "\n\n" + kStepExitStatusHelp + "\n" +
              kExecStatusNotes);
  exec.add_option("task", options->task_path, "Task file (TOML)")->required();
  exec.add_option("--runner", options->runner, "x5runner.exe to start (as for `run`)");
  exec.add_option("--wine", options->wine, "Command that runs a Windows program (as for `run`)")
      ->default_str(DefaultWineCommand());
  exec.add_option("--timeout", options->timeout_seconds,
                  "Seconds to wait for each answer of the runner (0: no limit)")
      ->default_val(60)
      ->check(CLI::NonNegativeNumber);
  exec.add_option("--capture", options->capture,
                  "Write every byte the runner sent to FILE (for `decode`)");
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
  exec.add_flag("--explain", options->explain,
                "After the reports, say in one paragraph why the step ended as it did");
  exec.add_flag("--fail-on-exit-code", options->fail_on_exit_code,
                "A step that ran and let the job go on fails all the same when its main "
                "process's exit code is not 0 (exit status: that code, 1..119)");
  exec.add_option("--rc-file", options->rc_file,
                  "The job's RC so far: read from FILE as the task RC, the step's final current "
                  "RC written back after the final report (FILE.lock held meanwhile)");
  return [options] { return RunExec(*options, std::cout, std::cerr); };
}

}  // namespace x5
