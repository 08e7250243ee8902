#include "x5ctl/subcommands/explain.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

#include "x5ctl/host/whole_file.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::subcommands {

int RunExplain(const ExplainOptions& options,
               std::istream& input,
               std::ostream& out,
               std::ostream& errors) {
  core::Result<std::vector<uint8_t>> bytes = host::ReadWholeFile(options.capture, input);
  if (!bytes) {
    errors << text::ProblemLine(bytes.failure().text);
    return kToolUsage;
  }
  core::Result<std::vector<uint8_t>> log = std::vector<uint8_t>{};
  if (!options.log.empty())
    log = host::ReadWholeFile(options.log, input);
  if (!log) {
    errors << text::ProblemLine(log.failure().text);
    return kToolUsage;
  }
  // A file that is not what a runner sent would be decoded as nonsense (a task file's text read
  // as a status and an RC): it is refused, saying what it looks like.
  if (const std::string looks_like = step::NotACapture(
          std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
      !looks_like.empty()) {
    errors << "x5ctl: " << options.capture << " is " << text::VisibleText(looks_like)
           << "; explain reads what a runner sent (x5ctl run --capture FILE)\n";
    return kToolUsage;
  }
  step::ExplainContext context;
  context.job_log.assign(log->begin(), log->end());
  if (!options.task.empty()) {
    core::Result<text::TaskFile> task = text::LoadTaskFile(options.task);
    if (!task) {
      errors << text::ProblemLine(task.failure().text);
      return kToolUsage;
    }
    context.conditions = task->blocks.conditions;
    context.console_file = protocol::Trimmed(task->task.console_file);
  }
  const text::RunnerStream stream = text::DecodeRunnerStream(*bytes);
  const std::string paragraph = step::ExplainStep(stream, context);
  if (options.json)
    out << text::ExplanationJson(paragraph) << "\n";
  else
    out << "explanation: " << text::VisibleText(paragraph) << "\n";
  if (!stream.problem.empty()) {
    errors << text::ProblemLine(options.capture + ": " + stream.problem);
    return kToolIncomplete;
  }
  return kToolDone;
}

std::function<int()> SetUpExplain(CLI::App& explain) {
  auto options = std::make_shared<ExplainOptions>();
  explain
      .add_option("capture", options->capture,
                  "What the runner sent (x5ctl run --capture FILE; \"-\" for standard input)")
      ->required();
  explain.add_option("--log", options->log, "The step's saved job log (its console file)");
  explain.add_option("--task", options->task,
                     "The step's task file, so that the rules are named with their own text");
  explain.add_flag("--json", options->json, "One JSON object");
  explain.footer(std::string(kToolExitStatusHelp) +
                 "\nA file that is not what a runner sent (a task file, what was sent to a runner)"
                 "\nis refused with 2, saying what it looks like.");
  return [options] { return RunExplain(*options, std::cin, std::cout, std::cerr); };
}

}  // namespace x5::ctl::subcommands
