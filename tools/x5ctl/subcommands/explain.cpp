#include "x5ctl/subcommands/explain.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

#include "x5ctl/host/whole_file.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

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
  const text::RunnerStream stream = text::DecodeRunnerStream(*bytes);
  const std::string paragraph = step::ExplainStep(stream, std::string(log->begin(), log->end()));
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
  explain.add_flag("--json", options->json, "One JSON object");
  explain.footer(kToolExitStatusHelp);
  return [options] { return RunExplain(*options, std::cin, std::cout, std::cerr); };
}

}  // namespace x5::ctl::subcommands
