// The points where the main sequence and the job log call the other subsystems.
#include "runner/subsystems_win.h"

#include <windows.h>

#include "cipher/password_cipher.h"
#include "commands/associations.h"
#include "commands/dispatcher.h"
#include "conditions/file_reader.h"
#include "conditions/rule_language.h"
#include "runner/pacer.h"
#include "runner/pipe_win.h"
#include "runner/report_win.h"
#include "runner/run_win.h"

namespace x5::runner {

std::string EvaluateConditions(Run& run, sequence::Pass pass) {
  variables::VariableContext variables = VariablesOf(run.inputs, run.state, run.services);
  variables::ContextVariableStore store(variables);
  PipeCommandLink link(run.services, run.outcome, run.step);
  FileCheckPacer pacer(link, run.inputs.limits.check_interval, run.outcome.kilobytes_read,
                       run.outcome.report.io_count, run.outcome.file_check_chunks);
  if (!run.services.rule_files)
    run.services.rule_files = conditions::MakeSystemRuleFiles();
  const conditions::ConditionLimits limits{run.inputs.limits.file_buffer_size,
                                           run.inputs.limits.line_width,
                                           run.inputs.limits.line_limit};
  conditions::ConditionContext context(limits, run.outcome.decided.rc, run.services.console_sink,
                                       store, pacer, *run.services.rule_files);
  context.case_map = conditions::SystemCaseMap();
  context.number_format = conditions::UserNumberFormat();
  std::string messages = conditions::EvaluateConditions(context, run.state.rule_settings, pass,
                                                        run.state.condition_rules);
  if (pacer.Killed())
    run.step.killed_in_checks = true;
  return messages;
}

namespace {

class RunConsoleFile final : public commands::ConsoleFile {
 public:
  RunConsoleFile(const RunInputs& inputs, RunOutcome& outcome, RunServices& services)
      : inputs_(inputs), outcome_(outcome), services_(services) {}
  void Save() override { SaveConsoleFileOrMark(inputs_, outcome_, services_); }

 private:
  const RunInputs& inputs_;
  RunOutcome& outcome_;
  RunServices& services_;
};

}  // namespace

commands::DispatchedCommand DispatchCommand(const RunInputs& inputs,
                                            sequence::StepState& state,
                                            RunOutcome& outcome,
                                            RunServices& services,
                                            std::string_view text,
                                            commands::DispatchMode mode) {
  variables::VariableContext variables = VariablesOf(inputs, state, services);
  variables::ContextExpander expander(variables);
  variables::ContextVariableStore store(variables, &cipher::FillRandom);
  RunConsoleFile console_file(inputs, outcome, services);
  const std::unique_ptr<commands::Associations> associations = commands::MakeShellAssociations();
  std::unique_ptr<commands::FileAccess> files = commands::MakeSystemFileAccess();
  std::unique_ptr<commands::PrinterSource> printers = commands::MakeSpoolerPrinters();
  commands::CommandContext context{.expander = expander,
                                   .variables = store,
                                   .console = services.console_sink,
                                   .console_file = console_file,
                                   .associations = *associations,
                                   .files = *files,
                                   .printers = *printers,
                                   .rc = outcome.decided.rc,
                                   .state = state.switches,
                                   .global_parameter_directory = state.global_parameter_directory,
                                   .runner_drive = commands::RunnerDriveLetter(),
                                   .case_fold = commands::SystemCaseFold()};
  return x5::commands::DispatchCommand(context, text, mode);
}

}  // namespace x5::runner
