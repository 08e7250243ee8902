// The command traces of `x5ctl check`: each line of the command as the dispatcher takes it, with
// what its switch did, and the job log's command line.
#include "x5ctl/check/checker.h"

#include "commands/command_split.h"
#include "commands/dispatcher.h"

namespace x5::ctl::check {
namespace {

// The drive of the runner's own folder, on which a document named from the root ("\x.doc") is
// looked for again. Not known here; the shell's answer is not known either (see the notes).
constexpr char kRunnerDrive = 'C';

}  // namespace

// The expansion the dispatcher asks for. It never deciphers: where the runner would put a
// password's plain text (the step's command line, switch arguments) the check has "*****".
// The dispatcher asks for the deciphering expansion exactly once per line, first of all, which
// is where the check starts following a new line.
class Checker::Expanding final : public core::Expander {
 public:
  // `follow`: the lines are traced (their records emitted when `emit`).
  Expanding(Checker& checker, bool follow, bool emit = true)
      : checker_(checker), follow_(follow), emit_(emit) {}

  std::string Expand(std::string_view text, bool quote_empty) override {
    return variables::ExpandVariables(checker_.variables_, text, variables::kMaskPasswords,
                                      quote_empty);
  }

  core::Expansion ExpandDeciphered(std::string_view text, bool quote_empty) override {
    std::string shown = Expand(text, quote_empty);
    if (follow_) {
      Close();
      Open(text, shown);
    }
    return core::Expansion{core::SecretString(shown), std::move(shown), {}};
  }

  core::SecretString ExpandSecret(const core::SecretString& text, bool quote_empty) override {
    return variables::ExpandVariables(checker_.variables_, text, variables::kMaskPasswords,
                                      quote_empty);
  }

  // The last line's record, with what its switch (or the final save of an edit) did.
  void Close() {
    if (!open_)
      return;
    current_["console"] = checker_.Console();
    current_["files"] = checker_.Files();
    current_["variables"] = checker_.NewVariables();
    current_["writes"] = checker_.Writes();
    const int32_t rc = checker_.rc_.step_rc_value;
    current_["step_rc_before"] = rc_before_;
    current_["step_rc_after"] = rc;
    if (rc != rc_before_) {
      // Shown in every section: with --after the line itself is not.
      checker_.warnings_.push_back(
          "command line " + std::to_string(line_) + " (" + current_["text"].get<std::string>() +
          "): a switch failed, so the step RC value goes from " + std::to_string(rc_before_) +
          " to " + std::to_string(rc) +
          " (a failed SET or replace raises it above the step's range); its console lines say "
          "why");
    }
    if (emit_)
      checker_.Emit(std::move(current_));
    open_ = false;
  }

 private:
  void Open(std::string_view text, const std::string& expanded) {
    commands::CommandLineParts parts;
    commands::ParseCommandLine(parts, expanded, checker_.world_.associations(), kRunnerDrive);
    current_ = Json();
    current_["record"] = "command_line";
    current_["line"] = ++line_;
    current_["text"] = U(text);
    current_["expanded"] = U(expanded);
    current_["program_token"] = U(parts.program_token);
    current_["parameters"] = U(parts.parameters);
    current_["switch_tail"] = U(parts.switch_tail);
    rc_before_ = checker_.rc_.step_rc_value;
    open_ = true;
    const std::string where = "command line " + std::to_string(line_);
    if (const std::string controls = ControlCharacters(text); !controls.empty())
      checker_.warnings_.push_back(where + " holds " + controls + std::string(kControlHint));
    const std::string& tail = parts.switch_tail;
    if (tail.size() >= 5 && !commands::IsKnownSwitch(tail[4])) {
      const size_t column = expanded.size() - (tail.size() - 1) + 1;
      checker_.warnings_.push_back(where + ", column " + std::to_string(column) + ": \"" +
                                   U(tail.substr(1, 4)) + "\" is not a switch the runner knows (" +
                                   commands::KnownSwitches() +
                                   "): the runner drops it and the rest of the line after it, "
                                   "and says nothing");
    }
  }

  Checker& checker_;
  bool follow_;
  bool emit_;
  Json current_;
  bool open_ = false;
  int line_ = 0;
  int32_t rc_before_ = 0;
};

// What the command routines see of the checked run: its variables, RC, picture settings and
// pending edit, over this machine's recording world.
commands::CommandContext Checker::Commands(core::Expander& expander, core::VariableStore& store) {
  return commands::CommandContext{
      .expander = expander,
      .variables = store,
      .console = world_.console(),
      .console_file = world_.console_file(protocol::Trimmed(task_.console_file)),
      .associations = world_.associations(),
      .files = world_.file_access(),
      .printers = world_.printers(),
      .rc = rc_,
      .state = state_.switches,
      .global_parameter_directory = state_.global_parameter_directory,
      .runner_drive = kRunnerDrive};
}

std::string Checker::Command(bool emit) {
  Expanding expander(*this, true, emit);
  variables::ContextVariableStore store(variables_);
  commands::CommandContext context = Commands(expander, store);
  const commands::DispatchedCommand dispatched =
      DispatchCommand(context, protocol::Trimmed(input_.command), commands::DispatchMode::kExecute);
  expander.Close();
  return variables::ExpandVariables(variables_, dispatched.shown, variables::kMaskPasswords, false);
}

// The "Command=" line of the job log: the command as written, or resolved after "/X5?".
std::string Checker::JobLogCommand() {
  Expanding quiet(*this, false);
  variables::ContextVariableStore store(variables_);
  commands::CommandContext context = Commands(quiet, store);
  return DispatchCommand(context,
                         variables::ExpandVariables(variables_, input_.command,
                                                    variables::kMaskPasswords, false),
                         state_.switches.show_resolved ? commands::DispatchMode::kShowResolved
                                                       : commands::DispatchMode::kShowAsWritten)
      .shown;
}

}  // namespace x5::ctl::check
