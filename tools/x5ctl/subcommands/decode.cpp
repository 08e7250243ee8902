#include "x5ctl/subcommands/decode.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

#include "x5ctl/host/whole_file.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::subcommands {

int RunDecode(const DecodeOptions& options,
              std::istream& input,
              std::ostream& out,
              std::ostream& errors) {
  core::Result<std::vector<uint8_t>> bytes = host::ReadWholeFile(options.path, input);
  if (!bytes) {
    errors << text::ProblemLine(bytes.failure().text);
    return kToolUsage;
  }
  const bool json = options.json;
  std::string problem;
  if (options.parent_side) {
    text::ParentStream stream = text::DecodeParentStream(*bytes);
    if (stream.task) {
      out << (json ? text::TaskJson(*stream.task, stream.blocks) + "\n"
                   : text::FormatTask(*stream.task, stream.blocks));
    }
    for (const protocol::OperatorCommand& command : stream.commands) {
      out << (json ? text::CommandJson(command.name, command.argument) + "\n"
                   : text::FormatCommand(command.name, command.argument));
    }
    problem = stream.problem;
  } else {
    text::RunnerStream stream = text::DecodeRunnerStream(*bytes);
    if (stream.status)
      out << (json ? text::StatusJson(*stream.status) + "\n" : text::FormatStatus(*stream.status));
    for (size_t i = 0; i < stream.reports.size(); ++i) {
      out << (json ? text::ReportJson(stream.reports[i], i + 1) + "\n"
                   : text::FormatReport(stream.reports[i], i + 1));
    }
    problem = stream.problem;
  }
  if (!problem.empty()) {
    errors << text::ProblemLine(options.path + ": " + problem);
    if (json)
      out << text::ErrorJson(problem) << "\n";
    return kToolIncomplete;
  }
  return kToolDone;
}

std::function<int()> SetUpDecode(CLI::App& decode) {
  auto options = std::make_shared<DecodeOptions>();
  decode.add_option("file", options->path, "Captured bytes (\"-\" for standard input)")->required();
  decode.footer(kToolExitStatusHelp);
  decode.add_flag("--json", options->json, "One JSON object per record");
  decode.add_flag("--input", options->parent_side,
                  "The stream is the parent's (task record, blocks, operator commands) rather "
                  "than the runner's (status record, step reports)");
  return [options] { return RunDecode(*options, std::cin, std::cout, std::cerr); };
}

}  // namespace x5::ctl::subcommands
