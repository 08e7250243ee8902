#include "x5ctl/subcommands/run.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>

#include "x5ctl/host/drive_map.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/launch_failure.h"
#include "x5ctl/subcommands/step_options.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::subcommands {
namespace {

constexpr const char* kRunDescription =
    R"(Runs one step: builds the task record and blocks from TASK.toml, starts the runner
with pipes on its standard input and output, prints the status record and every step
report, sends the operator commands, and finishes with END.

Operator commands come from, in this order of preference:
  1. --op options (in the order given; --after MS delays the --op just before it);
  2. x5ctl's standard input, with --ops-from-stdin;
  3. the task file's `ops` list;
  4. x5ctl's standard input when it is not a terminal (a pipe or a file).
Otherwise none are sent. On standard input, one command per line:
  NAME [ARGUMENT]   an operator command: NAME of 1-4 characters sent as written
                    (blank padded: "END" is sent as "END "), ARGUMENT a 32-bit
                    integer (decimal or 0x hex, default 0)
  sleep MS          pause before the next line
  close             close the runner's input (no END handshake)
  # ...             comment; blank lines are skipped
Every command gets one step report. After the last command x5ctl sends END
until the runner answers from phase 5 (END during the step only ends its
monitoring), reads to the end of the runner's output and prints its exit code.
A step that did not start is named on standard error with the system's reason.)";

// Pairs each --after with the --op given just before it, in command-line order.
core::Result<std::vector<text::OpStep>> CollectOps(const CLI::App& run,
                                                   const CLI::Option* op_option,
                                                   const CLI::Option* after_option,
                                                   const std::vector<std::string>& op_lines,
                                                   const std::vector<int64_t>& afters) {
  std::vector<text::OpStep> ops;
  size_t next_op = 0;
  size_t next_after = 0;
  for (const CLI::Option* option : run.parse_order()) {
    if (option == op_option) {
      const std::string& line = op_lines.at(next_op++);
      core::Result<std::optional<text::OpStep>> parsed = text::ParseOpLine(line);
      if (!parsed || !*parsed)
        return core::Failure{"--op \"" + line +
                             "\": " + (parsed ? "no command" : parsed.failure().text)};
      ops.push_back(**parsed);
    } else if (option == after_option) {
      int64_t ms = afters.at(next_after++);
      if (ops.empty())
        return core::Failure{"--after " + std::to_string(ms) + " must follow the --op it delays"};
      if (ms < 0)
        return core::Failure{"--after takes milliseconds, 0 or more"};
      ops.back().delay_ms = ms;
    }
  }
  return ops;
}

// Run's part of the step: operator commands from the user, the job log found through --drive.
class RunDriver final : public step::StepDriver {
 public:
  RunDriver(const RunOptions& options, std::istream& input, std::ostream& errors)
      : options_(options), input_(input), errors_(errors) {}

  core::Result<void> Prepare(text::TaskFile& task) override {
    if (!options_.ops.empty())
      ops_ = std::make_unique<step::ListOpSource>(options_.ops);
    else if (options_.ops_from_input)
      ops_ = std::make_unique<step::LineOpSource>(input_, errors_);
    else if (!task.ops.empty())
      ops_ = std::make_unique<step::ListOpSource>(task.ops);
    else if (options_.input_is_stream)
      ops_ = std::make_unique<step::LineOpSource>(input_, errors_);
    else
      ops_ = std::make_unique<step::ListOpSource>(std::vector<text::OpStep>{});
    return {};
  }
  step::OpSource& Ops() override { return *ops_; }

  // The user's own mappings win over the prefix's drives (C: is the Wine prefix's drive_c unless
  // mapped).
  std::filesystem::path JobLogPath(const std::string& console_file,
                                   const std::string& wine_command) const override {
    if (!options_.drives.empty()) {
      host::DriveMap drives;
      for (const std::string& mapping : options_.drives)
        (void)drives.Add(mapping, std::filesystem::current_path());  // unmapped: as before
      if (const host::MappedPath mapped = drives.Map(console_file); mapped.local)
        return *mapped.local;
    }
    return step::StepDriver::JobLogPath(console_file, wine_command);
  }

 private:
  const RunOptions& options_;
  std::istream& input_;
  std::ostream& errors_;
  std::unique_ptr<step::OpSource> ops_;
};

}  // namespace

int RunRun(const RunOptions& options,
           std::istream& input,
           std::ostream& out,
           std::ostream& errors) {
  RunDriver driver(options, input, errors);
  core::Result<step::StepRun> run = step::RunStep(
      options, driver,
      step::StepStreams{out, options.json, errors, options.job_log ? &errors : nullptr});
  if (!run)
    return step::kStepExitUsage;
  const int status =
      step::WithCaptureKept(step::OutcomeOfExec(run->conversation.end, run->final_report, 0), *run)
          .status;
  if (const auto failure = run->conversation.final_report
                               ? step::LaunchFailureIn(*run->conversation.final_report)
                               : std::nullopt)
    errors << text::ProblemLine(text::VisibleText(step::LaunchFailureSentence(*failure)));
  return status;
}

std::function<int()> SetUpRun(CLI::App& run) {
  struct Parsed {
    RunOptions options;
    std::vector<std::string> op_lines;
    std::vector<int64_t> afters;
  };
  auto parsed = std::make_shared<Parsed>();
  RunOptions& options = parsed->options;
  run.footer(std::string(kRunDescription) + "\n\n" + step::kStepExitStatusHelp);
  AddTaskAndRunnerOptions(run, options, RunnerHelp::kFull);
  CLI::Option* op_option =
      run.add_option("--op", parsed->op_lines, "Operator command, e.g. \"STAT\", \"KILL 5\"")
          ->take_all()
          ->expected(1)
          ->allow_extra_args(false);
  CLI::Option* after_option =
      run.add_option("--after", parsed->afters,
                     "Milliseconds to wait before sending the --op given just before")
          ->take_all()
          ->expected(1)
          ->allow_extra_args(false);
  run.add_flag("--ops-from-stdin", options.ops_from_input,
               "Read operator commands from standard input, one per line");
  run.add_flag("--json", options.json, "One JSON object per record");
  run.add_flag("--job-log", options.job_log,
               "Print the job log's lines on standard error as the step writes them");
  AddTimeoutOption(run, options);
  AddCaptureOption(run, options);
  run.add_option("--capture-input", options.capture_input,
                 "Write every byte sent to the runner to FILE (for `decode --input`)");
  AddExplainFlag(run, options);
  run.add_option("--drive", options.drives,
                 "With --explain: where a drive of the runner is on this machine (C=DIR), to read "
                 "the job log (under Wine C: is the prefix's drive_c)")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  return [&run, parsed, op_option, after_option] {
    core::Result<std::vector<text::OpStep>> ops =
        CollectOps(run, op_option, after_option, parsed->op_lines, parsed->afters);
    if (!ops) {
      std::cerr << text::ProblemLine(ops.failure().text);
      return step::kStepExitUsage;
    }
    parsed->options.ops = std::move(*ops);
    parsed->options.input_is_stream = !host::StdinIsTerminal();
    return RunRun(parsed->options, std::cin, std::cout, std::cerr);
  };
}

}  // namespace x5::ctl::subcommands
