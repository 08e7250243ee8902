#include "x5ctl/subcommands/encode.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

#include "x5ctl/host/whole_file.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::subcommands {

int RunEncode(const EncodeOptions& options, std::ostream& out, std::ostream& errors) {
  core::Result<text::TaskFile> loaded =
      text::LoadTaskFile(options.task_path, &text::EncipherPasswordField);
  if (!loaded) {
    errors << text::ProblemLine(loaded.failure().text);
    return kToolUsage;
  }
  const text::TaskFile& task = *loaded;
  if (options.output.empty()) {
    // The ops are no part of the task stream; the readable form keeps them so it reads back as
    // the same task file.
    out << (options.json ? text::TaskJson(task.task, task.blocks) + "\n"
                         : text::FormatTask(task.task, task.blocks, task.ops));
    return kToolDone;
  }
  std::vector<uint8_t> stream = task.Stream();
  for (const text::OpStep& op : options.ops.empty() ? task.ops : options.ops) {
    if (op.kind != text::OpStep::Kind::kSend)
      continue;
    auto bytes = protocol::EncodeOperatorCommand(op.name, op.argument);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  if (core::Result<void> written = host::WriteWholeFile(options.output, stream); !written) {
    errors << text::ProblemLine(written.failure().text);
    return kToolIncomplete;
  }
  return kToolDone;
}

std::function<int()> SetUpEncode(CLI::App& encode) {
  struct Parsed {
    EncodeOptions options;
    std::vector<std::string> op_lines;
  };
  auto parsed = std::make_shared<Parsed>();
  encode.add_option("task", parsed->options.task_path, "Task file (TOML)")->required();
  encode.footer(
      "Without -o, shows the task as a task file (ops included) that reads back to the same\n"
      "bytes; with --json as one JSON object (without the ops).\n\n" +
      std::string(kToolExitStatusHelp));
  encode.add_option("-o,--output", parsed->options.output,
                    "Write the task stream (and operator commands) to FILE");
  encode.add_option("--op", parsed->op_lines, "Operator command to append (with -o)")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  encode.add_flag("--json", parsed->options.json, "Show the task as one JSON object");
  return [parsed] {
    for (const std::string& line : parsed->op_lines) {
      core::Result<std::optional<text::OpStep>> op = text::ParseOpLine(line);
      if (!op) {
        std::cerr << text::ProblemLine("--op \"" + line + "\": " + op.failure().text);
        return kToolUsage;
      }
      if (*op)
        parsed->options.ops.push_back(**op);
    }
    return RunEncode(parsed->options, std::cout, std::cerr);
  };
}

}  // namespace x5::ctl::subcommands
