// x5ctl: the parent side of the runner protocol, for users and tests.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <sstream>

#include "cipher/password_cipher.h"
#include "x5_version.h"
#include "x5ctl/check/check.h"
#include "x5ctl/check/check_world.h"
#include "x5ctl/step/conversation.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/step/launch_failure.h"
#include "x5ctl/step/session.h"
#include "x5ctl/subcommands/exec.h"
#include "x5ctl/subcommands/setup_host.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"
#include "x5ctl/text/task_file.h"

namespace x5 {
namespace {

constexpr int kExitUsage = 2;

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
A step that did not start is named on standard error with the system's reason.
A --capture file that cannot be written makes a 0 into 125.)";

// The statuses of the subcommands that do not run a step.
constexpr const char* kToolExitStatusHelp =
    "Exit status: 0 done, 1 the input could not be read as a whole (what was read is shown),\n"
    "2 the options or the task file were not understood.";

bool WriteFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = path + ": cannot write the file";
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  if (path == "-") {
    std::cin >> std::noskipws;
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open the file";
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = path + ": cannot read the file";
    return false;
  }
  return true;
}

std::string EncipherForTask(std::string_view plain) {
  return cipher::EncipherField(plain);
}

// Pairs each --after with the --op given just before it, in command-line order.
bool CollectOps(const CLI::App& run,
                const CLI::Option* op_option,
                const CLI::Option* after_option,
                const std::vector<std::string>& op_lines,
                const std::vector<int64_t>& afters,
                std::vector<OpStep>& ops,
                std::string& error) {
  size_t next_op = 0;
  size_t next_after = 0;
  for (const CLI::Option* option : run.parse_order()) {
    if (option == op_option) {
      OpParse parsed = ParseOpLine(op_lines.at(next_op++));
      if (!parsed.error.empty() || !parsed.step) {
        error = "--op \"" + op_lines.at(next_op - 1) +
                "\": " + (parsed.error.empty() ? "no command" : parsed.error);
        return false;
      }
      ops.push_back(*parsed.step);
    } else if (option == after_option) {
      int64_t ms = afters.at(next_after++);
      if (ops.empty()) {
        error = "--after " + std::to_string(ms) + " must follow the --op it delays";
        return false;
      }
      if (ms < 0) {
        error = "--after takes milliseconds, 0 or more";
        return false;
      }
      ops.back().delay_ms = ms;
    }
  }
  return true;
}

struct RunOptions {
  std::string task_path;
  std::string runner;
  std::string wine = DefaultWineCommand();
  std::vector<std::string> op_lines;
  std::vector<int64_t> afters;
  bool ops_from_stdin = false;
  bool json = false;
  double timeout_seconds = 60;
  std::string capture;
  std::string capture_input;
  bool explain = false;
  std::vector<std::string> drives;
};

// The step's job log after a run: the task's console file, reached directly when the runner ran
// without Wine, else through --drive mappings (C: is the Wine prefix's drive_c unless mapped).
std::string JobLogAfterRun(const RunOptions& options, const TaskRecord& task) {
  const std::string console_file = Trimmed(task.console_file);
  if (console_file.empty())
    return {};
  std::filesystem::path local = LocalPathOf(console_file, options.wine);
  std::string error;
  if (!options.drives.empty()) {
    // The user's own mappings win over the prefix's drives.
    check::DriveMap drives;
    for (const std::string& mapping : options.drives)
      (void)drives.Add(mapping, std::filesystem::current_path(), error);
    if (const check::MappedPath mapped = drives.Map(console_file); mapped.local)
      local = *mapped.local;
  }
  std::vector<uint8_t> bytes;
  if (!local.empty())
    (void)ReadWholeFile(local.string(), bytes, error);
  return std::string(bytes.begin(), bytes.end());
}

void PrintExplanation(const std::string& paragraph, bool json) {
  if (json)
    std::cout << ExplanationJson(paragraph) << "\n";
  else
    std::cout << "explanation: " << VisibleText(paragraph) << "\n";
}

int Run(const RunOptions& options, std::vector<OpStep> cli_ops) {
  TaskFileResult loaded = LoadTaskFile(options.task_path, &EncipherForTask);
  if (!loaded.file) {
    std::cerr << "x5ctl: " << loaded.error << "\n";
    return kStepExitUsage;
  }
  const TaskFile& task = *loaded.file;
  std::string problem;
  const std::string runner = RunnerPath(options.runner, problem);
  if (runner.empty()) {
    std::cerr << "x5ctl: " << problem << "\n";
    return kStepExitUsage;
  }

  std::unique_ptr<OpSource> ops;
  if (!cli_ops.empty())
    ops = std::make_unique<ListOpSource>(std::move(cli_ops));
  else if (options.ops_from_stdin)
    ops = std::make_unique<LineOpSource>(std::cin, std::cerr);
  else if (!task.ops.empty())
    ops = std::make_unique<ListOpSource>(task.ops);
  else if (!StdinIsTerminal())
    ops = std::make_unique<LineOpSource>(std::cin, std::cerr);
  else
    ops = std::make_unique<ListOpSource>(std::vector<OpStep>{});

  RunnerSession session;
  session.SetTimeout(
      std::chrono::milliseconds(static_cast<int64_t>(options.timeout_seconds * 1000)));
  if (!session.Start(runner, options.wine)) {
    std::cerr << "x5ctl: " << session.LastError() << "\n";
    if (options.json)
      std::cout << ErrorJson(session.LastError()) << "\n";
    return kExecNotStarted;
  }
  ConversationOptions conversation;
  conversation.json = options.json;
  const ConversationResult result =
      RunConversation(session, task.Stream(), *ops, conversation, std::cout, std::cerr);
  std::optional<StepReport> final_report;
  if (result.final_report)
    final_report = result.final_report->report;
  int status = OutcomeOfExec(result.end, final_report, 0).status;
  if (const auto failure =
          result.final_report ? LaunchFailureIn(result.final_report->text) : std::nullopt)
    std::cerr << "x5ctl: " << VisibleText(LaunchFailureSentence(*failure)) << "\n";

  std::string error;
  if (!options.capture.empty() && !WriteFile(options.capture, session.Received(), error)) {
    std::cerr << "x5ctl: " << error << "\n";
    status = status == 0 ? kExecBrokeOff : status;
  }
  if (!options.capture_input.empty() && !WriteFile(options.capture_input, session.Sent(), error)) {
    std::cerr << "x5ctl: " << error << "\n";
    status = status == 0 ? kExecBrokeOff : status;
  }
  if (options.explain) {
    PrintExplanation(
        ExplainStep(DecodeRunnerStream(session.Received()), JobLogAfterRun(options, task.task)),
        options.json);
  }
  return status;
}

int Decode(const std::string& path, bool json, bool parent_side) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(path, bytes, error)) {
    std::cerr << "x5ctl: " << error << "\n";
    return kExitUsage;
  }
  std::string problem;
  if (parent_side) {
    ParentStream stream = DecodeParentStream(bytes);
    if (stream.task) {
      std::cout << (json ? TaskJson(*stream.task, stream.blocks) + "\n"
                         : FormatTask(*stream.task, stream.blocks));
    }
    for (const OperatorCommand& command : stream.commands) {
      std::cout << (json ? CommandJson(command.name, command.argument) + "\n"
                         : FormatCommand(command.name, command.argument));
    }
    problem = stream.problem;
  } else {
    RunnerStream stream = DecodeRunnerStream(bytes);
    if (stream.status)
      std::cout << (json ? StatusJson(*stream.status) + "\n" : FormatStatus(*stream.status));
    for (size_t i = 0; i < stream.reports.size(); ++i) {
      std::cout << (json ? ReportJson(stream.reports[i], i + 1) + "\n"
                         : FormatReport(stream.reports[i], i + 1));
    }
    problem = stream.problem;
  }
  if (!problem.empty()) {
    std::cerr << "x5ctl: " << path << ": " << problem << "\n";
    if (json)
      std::cout << ErrorJson(problem) << "\n";
    return 1;
  }
  return 0;
}

int Encode(const std::string& task_path,
           const std::string& output,
           bool json,
           const std::vector<OpStep>& cli_ops) {
  TaskFileResult loaded = LoadTaskFile(task_path, &EncipherForTask);
  if (!loaded.file) {
    std::cerr << "x5ctl: " << loaded.error << "\n";
    return kExitUsage;
  }
  const TaskFile& task = *loaded.file;
  if (output.empty()) {
    // The ops are no part of the task stream; the readable form keeps them so it reads back as
    // the same task file.
    std::cout << (json ? TaskJson(task.task, task.blocks) + "\n"
                       : FormatTask(task.task, task.blocks, task.ops));
    return 0;
  }
  std::vector<uint8_t> stream = task.Stream();
  for (const OpStep& op : cli_ops.empty() ? task.ops : cli_ops) {
    if (op.kind != OpStep::Kind::kSend)
      continue;
    auto bytes = EncodeOperatorCommand(op.name, op.argument);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  std::string error;
  if (!WriteFile(output, stream, error)) {
    std::cerr << "x5ctl: " << error << "\n";
    return 1;
  }
  return 0;
}

// ------------------------------------------------------------------------------ subcommands

// What a subcommand's setup returns: the handler that runs once the options are parsed.
using Handler = std::function<int()>;

Handler SetUpRun(CLI::App& run) {
  auto options = std::make_shared<RunOptions>();
  run.footer(std::string(kRunDescription) + "\n\n" + kStepExitStatusHelp);
  run.add_option("task", options->task_path, "Task file (TOML)")->required();
  run.add_option("--runner", options->runner,
                 "x5runner.exe to start (default: the first of ../mingw/x5runner.exe, "
                 "x5runner.exe and ../lib/x5runner/x5runner.exe beside x5ctl)");
  run.add_option("--wine", options->wine,
                 "Command that runs a Windows program (may hold several words; \"\" runs the "
                 "runner directly)")
      ->default_str(DefaultWineCommand());
  CLI::Option* op_option =
      run.add_option("--op", options->op_lines, "Operator command, e.g. \"STAT\", \"KILL 5\"")
          ->take_all()
          ->expected(1)
          ->allow_extra_args(false);
  CLI::Option* after_option =
      run.add_option("--after", options->afters,
                     "Milliseconds to wait before sending the --op given just before")
          ->take_all()
          ->expected(1)
          ->allow_extra_args(false);
  run.add_flag("--ops-from-stdin", options->ops_from_stdin,
               "Read operator commands from standard input, one per line");
  run.add_flag("--json", options->json, "One JSON object per record");
  run.add_option("--timeout", options->timeout_seconds,
                 "Seconds to wait for each answer of the runner (0: no limit)")
      ->default_val(60)
      ->check(CLI::NonNegativeNumber);
  run.add_option("--capture", options->capture,
                 "Write every byte the runner sent to FILE (for `decode`)");
  run.add_option("--capture-input", options->capture_input,
                 "Write every byte sent to the runner to FILE (for `decode --input`)");
  run.add_flag("--explain", options->explain,
               "After the reports, say in one paragraph why the step ended as it did");
  run.add_option("--drive", options->drives,
                 "With --explain: where a drive of the runner is on this machine (C=DIR), to read "
                 "the job log (under Wine C: is the prefix's drive_c)")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  return [&run, options, op_option, after_option] {
    std::vector<OpStep> ops;
    std::string error;
    if (!CollectOps(run, op_option, after_option, options->op_lines, options->afters, ops, error)) {
      std::cerr << "x5ctl: " << error << "\n";
      return kStepExitUsage;
    }
    return Run(*options, std::move(ops));
  };
}

Handler SetUpCheck(CLI::App& check) {
  return SetUpCheckCommand(check, std::cout, std::cerr);
}

Handler SetUpExplain(CLI::App& explain) {
  struct Options {
    std::string capture;
    std::string log;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  explain
      .add_option("capture", options->capture,
                  "What the runner sent (x5ctl run --capture FILE; \"-\" for standard input)")
      ->required();
  explain.add_option("--log", options->log, "The step's saved job log (its console file)");
  explain.add_flag("--json", options->json, "One JSON object");
  explain.footer(kToolExitStatusHelp);
  return [options] {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(options->capture, bytes, error)) {
      std::cerr << "x5ctl: " << error << "\n";
      return kExitUsage;
    }
    std::vector<uint8_t> log;
    if (!options->log.empty() && !ReadWholeFile(options->log, log, error)) {
      std::cerr << "x5ctl: " << error << "\n";
      return kExitUsage;
    }
    const RunnerStream stream = DecodeRunnerStream(bytes);
    PrintExplanation(ExplainStep(stream, std::string(log.begin(), log.end())), options->json);
    if (!stream.problem.empty()) {
      std::cerr << "x5ctl: " << options->capture << ": " << stream.problem << "\n";
      return 1;
    }
    return 0;
  };
}

Handler SetUpDecode(CLI::App& decode) {
  struct Options {
    std::string path;
    bool json = false;
    bool input = false;
  };
  auto options = std::make_shared<Options>();
  decode.add_option("file", options->path, "Captured bytes (\"-\" for standard input)")->required();
  decode.footer(kToolExitStatusHelp);
  decode.add_flag("--json", options->json, "One JSON object per record");
  decode.add_flag("--input", options->input,
                  "The stream is the parent's (task record, blocks, operator commands) rather "
                  "than the runner's (status record, step reports)");
  return [options] { return Decode(options->path, options->json, options->input); };
}

Handler SetUpEncode(CLI::App& encode) {
  struct Options {
    std::string path;
    std::string output;
    bool json = false;
    std::vector<std::string> op_lines;
  };
  auto options = std::make_shared<Options>();
  encode.add_option("task", options->path, "Task file (TOML)")->required();
  encode.footer(
      "Without -o, shows the task as a task file (ops included) that reads back to the same\n"
      "bytes; with --json as one JSON object (without the ops).\n\n" +
      std::string(kToolExitStatusHelp));
  encode.add_option("-o,--output", options->output,
                    "Write the task stream (and operator commands) to FILE");
  encode.add_option("--op", options->op_lines, "Operator command to append (with -o)")
      ->take_all()
      ->expected(1)
      ->allow_extra_args(false);
  encode.add_flag("--json", options->json, "Show the task as one JSON object");
  return [options] {
    std::vector<OpStep> ops;
    for (const std::string& line : options->op_lines) {
      OpParse parsed = ParseOpLine(line);
      if (!parsed.error.empty()) {
        std::cerr << "x5ctl: --op \"" << line << "\": " << parsed.error << "\n";
        return kExitUsage;
      }
      if (parsed.step)
        ops.push_back(*parsed.step);
    }
    return Encode(options->path, options->output, options->json, ops);
  };
}

// show-console-file and show-step-directory: one path of the task.
Handler SetUpShowPath(CLI::App& show, bool console_file) {
  auto path = std::make_shared<std::string>();
  show.add_option("task", *path, "Task file (TOML)")->required();
  show.footer(kToolExitStatusHelp);
  return [path, console_file] {
    TaskFileResult loaded = LoadTaskFile(*path, &EncipherForTask);
    if (!loaded.file) {
      std::cerr << "x5ctl: " << loaded.error << "\n";
      return kExitUsage;
    }
    const TaskRecord& t = loaded.file->task;
    std::string shown = console_file ? Trimmed(t.console_file)
                                     : Trimmed(t.job_base_directory) + Trimmed(t.job_name) + "\\" +
                                           Trimmed(t.step_directory) + "\\";
    if (!shown.empty())
      std::cout << Utf8FromAnsi(shown) << "\n";
    return 0;
  };
}

Handler SetUpShowConsoleFile(CLI::App& show) {
  return SetUpShowPath(show, true);
}

Handler SetUpShowStepDirectory(CLI::App& show) {
  return SetUpShowPath(show, false);
}

Handler SetUpEncipher(CLI::App& encipher, bool field) {
  auto password = std::make_shared<std::string>();
  encipher
      .add_option("password", *password,
                  field ? "Plain password (at most 39 characters)"
                        : "Plain password (at most 127 characters)")
      ->required();
  if (field) {
    encipher.footer(
        "Prints a `password = \"...\"` line for a task file: the 40 enciphered bytes, with\n"
        "everything but printable ASCII written as \\u00XX. A task file may instead hold the\n"
        "plain password as password_plain; x5ctl then enciphers it itself.\n\n" +
        std::string(kToolExitStatusHelp));
  } else {
    encipher.footer(kToolExitStatusHelp);
  }
  return [password, field] {
    std::string plain_error;
    std::optional<std::string> plain = AnsiFromUtf8(*password, plain_error);
    if (!plain) {
      std::cerr << "x5ctl: " << plain_error << "\n";
      return kExitUsage;
    }
    if (field) {
      std::string cipher = cipher::EncipherField(*plain);
      if (cipher.empty()) {
        std::cerr << "x5ctl: the password cannot be enciphered (at most " << cipher::kFieldPlainMax
                  << " characters)\n";
        return kExitUsage;
      }
      std::cout << "password = " << TomlString(cipher) << "\n";
      return 0;
    }
    std::string cipher = cipher::EncipherVariable(*plain);
    if (cipher.empty()) {
      std::cerr << "x5ctl: the password cannot be enciphered (1 to " << cipher::kVariablePlainMax
                << " characters)\n";
      return kExitUsage;
    }
    std::cout << cipher << "\n";
    return 0;
  };
}

Handler SetUpEncipherField(CLI::App& encipher) {
  return SetUpEncipher(encipher, true);
}

Handler SetUpEncipherVariable(CLI::App& encipher) {
  return SetUpEncipher(encipher, false);
}

// The subcommands, as ninja keeps its tools: name, one line for --help, and the setup that
// declares the options and returns the handler.
struct Subcommand {
  const char* name;
  const char* description;
  Handler (*set_up)(CLI::App&);
};

constexpr Subcommand kSubcommands[] = {
    {"run", "Run one step from a task file", SetUpRun},
    {"check", "Check a task without running it: variables, rules, switches, return code",
     SetUpCheck},
    {"explain", "Say why a step ended as it did, from a captured runner output", SetUpExplain},
    {"exec", "Run one step as an ordinary command (for schedulers)", SetUpExec},
    {"setup-host", "Prepare a Wine prefix and a display for runners, print their environment",
     SetUpSetupHost},
    {"decode", "Decode a captured byte stream of records", SetUpDecode},
    {"encode", "Show the task a task file describes, or write its bytes with -o", SetUpEncode},
    {"show-console-file", "Print the console file a task file names (nothing when none)",
     SetUpShowConsoleFile},
    {"show-step-directory",
     "Print the step's folder (job base directory, job name, step directory), which holds its "
     "global parameter files and DIAG files",
     SetUpShowStepDirectory},
    {"encipher-field", "Encipher a logon password for the task record's password field",
     SetUpEncipherField},
    {"encipher-variable", "Encipher a password for a SETP line (hexadecimal text)",
     SetUpEncipherVariable},
};

int Main(int argc, char** argv) {
  CLI::App app{"x5ctl: drives x5runner through its pipes as a parent scheduler does."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("x5ctl ") + X5_VERSION);
  // Linux paths given to x5ctl.exe under Wine start with '/', which must stay a path.
  app.allow_windows_style_options(false);

  std::vector<std::pair<const CLI::App*, Handler>> handlers;
  for (const Subcommand& subcommand : kSubcommands) {
    CLI::App* sub = app.add_subcommand(subcommand.name, subcommand.description);
    handlers.emplace_back(sub, subcommand.set_up(*sub));
  }
  // CLI11 says only "A subcommand is required" for a word it does not know: name it.
  if (argc > 1) {
    const std::string first = argv[1];
    const bool known = std::any_of(std::begin(kSubcommands), std::end(kSubcommands),
                                   [&](const Subcommand& s) { return first == s.name; });
    const bool top_option = first == "-h" || first == "--help" || first == "--version";
    if (!known && !top_option) {
      std::cerr << "x5ctl: "
                << (first.starts_with("-") ? "unknown option \"" : "unknown subcommand \"") << first
                << "\"; x5ctl --help lists the subcommands\n";
      return kExitUsage;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help is a "parse error" that exits 0; every other one is a usage error, which for the
    // subcommands that exit by the step's table is a step that did not start.
    if (app.exit(e) == 0)
      return 0;
    for (const char* step_subcommand : {"run", "exec", "check"}) {
      if (app.get_subcommand(step_subcommand)->parsed())
        return kStepExitUsage;
    }
    return kExitUsage;
  }
  for (const auto& [sub, handler] : handlers) {
    if (*sub)
      return handler();
  }
  return kExitUsage;
}

}  // namespace
}  // namespace x5

int main(int argc, char** argv) {
  try {
    return x5::Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("x5ctl: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "x5ctl: %s\n", e.what());
  }
  return 1;
}
