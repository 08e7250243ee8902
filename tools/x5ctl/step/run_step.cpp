#include "x5ctl/step/run_step.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <system_error>

#include "protocol/status_texts.h"
#include "x5ctl/host/job_log_path.h"
#include "x5ctl/host/whole_file.h"
#include "x5ctl/host/wine_host.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/step/job_log_follower.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::step {
namespace {

// The job log's bytes when the runner wrote it in this run; else why not.
core::Result<std::string> JobLogOfThisRun(const std::string& console_file,
                                          const std::filesystem::path& log_path,
                                          const FileStamp& before) {
  if (console_file.empty())
    return core::Failure{"the task names no console file, so there is no job log to print"};
  if (log_path.empty())
    return core::Failure{"the job log " + console_file + " lies where x5ctl cannot read it"};
  if (StampOf(log_path) == before)
    return core::Failure{"the runner did not write the job log " + log_path.string() +
                         " in this run"};
  std::ifstream in(log_path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

core::Result<text::TaskFile> StepDriver::Task(const StepOptions& options) {
  return text::LoadTaskFile(options.task_path, &text::EncipherPasswordField);
}

std::filesystem::path StepDriver::JobLogPath(const std::string& console_file,
                                             const std::string& wine_command) const {
  return host::LocalPathOf(console_file, wine_command);
}

ExecOutcome WithCaptureKept(ExecOutcome outcome, const StepRun& run) {
  if (!run.capture_failed || outcome.status != kExecSucceeded)
    return outcome;
  return {kExecBrokeOff, "the step ran, but a capture file could not be written"};
}

void SayProblem(const StepStreams& streams, const std::string& message) {
  streams.errors << text::ProblemLine(message);
  streams.errors.flush();
  if (streams.json)
    streams.records << text::ErrorJson(message) << "\n" << std::flush;
}

core::Result<StepRun> RunStep(const StepOptions& options,
                              StepDriver& driver,
                              const StepStreams& streams) {
  const auto refused = [&](const std::string& message) {
    SayProblem(streams, message);
    return core::Failure{message};
  };
  core::Result<text::TaskFile> loaded = driver.Task(options);
  if (!loaded)
    return refused(loaded.failure().text);
  StepRun run{std::move(*loaded), {}, {}, false, {}};
  // The step's exit code in the final reports: x5ctl's outcome and --fail-on-exit-code read it.
  run.task.task.asks_extensions = true;
  const core::Result<std::string> runner_path = RunnerPath(options.runner, options.wine);
  if (!runner_path)
    return refused(runner_path.failure().text);
  const std::string& runner = *runner_path;
  // Under Wine without a display or a prefix the runner would hang or build a prefix on the fly:
  // say what is missing instead.
  const host::WineHostFacts facts = host::ReadWineHostFacts(options.wine);
  if (const std::string missing = host::WineHostProblem(facts); !missing.empty())
    return refused(missing);
  const bool through_wine = facts.uses_wine;
  // The prefix setup-host makes when none is named, not Wine's own ~/.wine.
  if (through_wine && !facts.prefix_named)
    host::SetEnvironment("WINEPREFIX", facts.prefix, false);
  if (core::Result<void> prepared = driver.Prepare(run.task); !prepared)
    return refused(prepared.failure().text);

  const std::string console_file = protocol::Trimmed(run.task.task.console_file);
  const std::filesystem::path log_path = console_file.empty()
                                             ? std::filesystem::path()
                                             : driver.JobLogPath(console_file, options.wine);
  const FileStamp before = log_path.empty() ? FileStamp{} : StampOf(log_path);

  // The job log is printed as the runner moves its rows into the console file, while the
  // conversation goes on.
  std::optional<JobLogFollower> follower;
  if (streams.job_log != nullptr && !log_path.empty()) {
    follower.emplace(log_path, before, [&streams](std::string_view lines) {
      *streams.job_log << host::PrintableJobLog(lines) << std::flush;
    });
  }

  RunnerSession session;
  // Wine's notices (a missing 32-bit part, fixme lines) are no part of the step's reports.
  if (through_wine && !options.wine_messages)
    session.SetErrors({host::ChildErrors::Kind::kDiscard, {}});
  session.SetTimeout(
      std::chrono::milliseconds(static_cast<int64_t>(options.timeout_seconds * 1000)));
  session.SetInterrupt(driver.Interruption());
  if (session.Start(runner, options.wine)) {
    ConversationOptions conversation;
    conversation.json = streams.json;
    run.conversation = RunConversation(session, run.task.Stream(), driver.Ops(), conversation,
                                       streams.records, streams.errors);
  } else {
    run.conversation.end = ConversationEnd::kNotStarted;
    SayProblem(streams, session.LastError());
  }
  if (through_wine && !options.wine_messages &&
      (run.conversation.end == ConversationEnd::kNotStarted ||
       run.conversation.end == ConversationEnd::kBrokeOff ||
       run.conversation.end == ConversationEnd::kTimedOut))
    SayProblem(streams, "Wine's own messages were not shown: --wine-messages shows them");
  if (run.conversation.final_report)
    run.final_report = run.conversation.final_report->report;

  for (const auto& [path, bytes] : {std::pair{&options.capture, &session.Received()},
                                    std::pair{&options.capture_input, &session.Sent()}}) {
    if (path->empty())
      continue;
    if (core::Result<void> written = host::WriteWholeFile(*path, *bytes); !written) {
      SayProblem(streams, written.failure().text);
      run.capture_failed = true;
    }
  }

  // Where this host can see the console file's folder, it can say why the runner could not
  // write there.
  std::error_code missing;
  if (run.final_report &&
      protocol::Trimmed(run.final_report->status_text) == protocol::kStatusConsoleFileFailed &&
      !log_path.empty() && !std::filesystem::is_directory(log_path.parent_path(), missing))
    run.console_file_problem =
        "its folder does not exist (here: " + log_path.parent_path().string() + ")";

  if (follower) {
    if (core::Result<void> followed = follower->Finish(); !followed)
      SayProblem(streams, followed.failure().text);
  } else if (streams.job_log != nullptr) {
    // No file to follow: why there is no job log.
    if (core::Result<std::string> read = JobLogOfThisRun(console_file, log_path, before); !read)
      SayProblem(streams, read.failure().text);
  }
  std::string job_log;
  if (options.explain) {
    if (core::Result<std::string> read = JobLogOfThisRun(console_file, log_path, before); read)
      job_log = std::move(*read);
  }
  if (options.explain) {
    ExplainContext context;
    context.job_log = std::move(job_log);
    context.conditions = run.task.blocks.conditions;
    context.console_file = console_file;
    context.fail_on_exit_code = options.fail_on_exit_code;
    context.console_file_problem = run.console_file_problem;
    const std::string paragraph =
        ExplainStep(text::DecodeRunnerStream(session.Received()), context);
    if (streams.json)
      streams.records << text::ExplanationJson(paragraph) << "\n" << std::flush;
    else
      streams.records << "explanation: " << text::VisibleText(paragraph) << "\n";
  }
  return run;
}

}  // namespace x5::ctl::step
