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

namespace x5 {

void SetStepVariables(Run& run) {
  VariableContext context = VariablesOf(run);
  (void)x5::SetStepVariables(context);
}

std::string ExpandVariables(Run& run, std::string_view text, MaskPasswords, bool quote_empty) {
  return x5::ExpandVariables(VariablesOf(run), text, kMaskPasswords, quote_empty);
}

Expansion ExpandVariables(Run& run, std::string_view text, DecipherPasswords, bool quote_empty) {
  return x5::ExpandVariables(VariablesOf(run), text, kDecipherPasswords, quote_empty);
}

SecretString ExpandVariables(Run& run, const SecretString& text, MaskPasswords, bool quote_empty) {
  return x5::ExpandVariables(VariablesOf(run), text, kMaskPasswords, quote_empty);
}

int32_t AddVariable(Run& run, std::string_view name, std::string_view value) {
  VariableContext context = VariablesOf(run);
  return x5::AddVariable(context, name, value);
}

std::string EvaluateConditions(Run& run, sequence::Pass pass) {
  VariableContext variables = VariablesOf(run);
  ContextVariableStore store(variables);
  PipeCommandLink link(run);
  FileCheckPacer pacer(link, run.inputs.limits.check_interval, run.kilobytes_read,
                       run.outcome.report.io_count, run.file_check_chunks);
  if (!run.services.rule_files)
    run.services.rule_files = conditions::MakeSystemRuleFiles();
  const conditions::ConditionLimits limits{run.inputs.limits.file_buffer_size,
                                           run.inputs.limits.line_width,
                                           run.inputs.limits.line_limit};
  conditions::ConditionContext context(limits, run.outcome.rc, run.services.console_sink, store,
                                       pacer, *run.services.rule_files);
  context.case_map = SystemCaseMap();
  context.number_format = UserNumberFormat();
  std::string messages = conditions::EvaluateConditions(context, run.state.rule_settings,
                                                        pass == sequence::Pass::kBeforeStep
                                                            ? conditions::kPassBeforeStep
                                                            : conditions::kPassAfterStep,
                                                        run.state.condition_rules);
  if (pacer.Killed())
    run.killed_in_checks = true;
  return messages;
}

namespace {

class RunConsoleFile final : public ConsoleFile {
 public:
  explicit RunConsoleFile(Run& run) : run_(run) {}
  void Save() override { SaveConsoleFile(run_); }

 private:
  Run& run_;
};

}  // namespace

DispatchedCommand DispatchCommand(Run& run, std::string_view text, DispatchMode mode) {
  VariableContext variables = VariablesOf(run);
  ContextExpander expander(variables);
  ContextVariableStore store(variables, &FillRandom);
  RunConsoleFile console_file(run);
  const std::unique_ptr<Associations> associations = commands::MakeShellAssociations();
  std::unique_ptr<FileAccess> files = MakeSystemFileAccess();
  std::unique_ptr<commands::PrinterSource> printers = commands::MakeSpoolerPrinters();
  CommandContext context{expander,
                         store,
                         run.services.console_sink,
                         console_file,
                         *associations,
                         *files,
                         *printers,
                         run.outcome.rc,
                         run.state.picture_interval,
                         run.state.picture_type,
                         run.state.show_resolved,
                         run.state.edit,
                         run.state.last_result,
                         run.state.global_parameter_directory};
  context.runner_drive = commands::RunnerDriveLetter();
  context.case_fold = SystemCaseFold();
  return x5::DispatchCommand(context, text, mode);
}

}  // namespace x5
