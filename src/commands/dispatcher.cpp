// The internal command dispatcher: turns a step's command text into the one command line that
// runs, carrying out the "/X5" switches of its lines on the way.
#include "commands/dispatcher.h"

#include <array>

#include "commands/command_split.h"
#include "commands/picture_settings.h"
#include "commands/printer_report.h"
#include "commands/replace_in_file.h"
#include "commands/set_command.h"
#include "core/ascii_text.h"
#include "core/fault.h"

namespace x5::commands {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kRefusedLine =
    "***** Command not run: a password would change where this line is cut into program, "
    "parameters and /X5 switch: ";

void AppendTo(std::string& out, std::string_view text) {
  out.append(text);
}

void AppendTo(core::SecretString& out, std::string_view text) {
  out.Append(text);
}

// A path with blanks is quoted, so the system does not try "C:\Program.exe" first.
template <typename Text>
void AppendPath(Text& out, const std::string& path) {
  const bool quote = path.find(' ') != std::string::npos && path.front() != '"';
  if (quote) {
    AppendTo(out, "\"");
  }
  AppendTo(out, path);
  if (quote) {
    AppendTo(out, "\"");
  }
}

template <typename Text>
void AppendContribution(Text& out, const CommandLineParts& parts, DispatchMode mode) {
  if (mode == DispatchMode::kShowAsWritten) {
    AppendTo(out, parts.program_token);
    AppendTo(out, parts.parameters);
    return;
  }
  switch (parts.kind) {
    case CommandKind::kDocument:
      AppendPath(out, parts.associated_program);
      AppendTo(out, " ");
      AppendTo(out, parts.program_token);
      break;
    case CommandKind::kProgram:
      AppendPath(out, parts.associated_program);
      break;
    case CommandKind::kNotFound:
      AppendTo(out, parts.program_token);
      break;
  }
  AppendTo(out, parts.parameters);
}

template <typename Text>
void Join(Text& result, const Text& contribution) {
  if (contribution.empty()) {
    return;
  }
  if (!result.empty()) {
    AppendTo(result, "&");
  }
  AppendTo(result, contribution);
}

void Join(core::SecretString& result, const core::SecretString& contribution) {
  if (contribution.Empty()) {
    return;
  }
  if (!result.Empty()) {
    result.Append('&');
  }
  result.Append(contribution.View());
}

struct SwitchLine {
  std::string_view tail;        // the switch tail with passwords deciphered
  std::string_view shown_tail;  // the same with passwords masked: what the console may show
};

void ShowResolved(CommandContext& context, const SwitchLine&) {
  context.state.show_resolved = true;
}

void PrinterSwitch(CommandContext& context, const SwitchLine&) {
  FlushEdit(context);
  std::string path = context.global_parameter_directory;
  path.append(kPrinterReportFile);
  context.console.Line(kLineEnd);
  context.console.Line(path);
  bool written = false;
  context.console.Line(WritePrinterReport(context.printers, context.files,
                                          context.global_parameter_directory, written));
  if (!written) {
    context.console.Line("ERROR - File NOT saved: " + path);
  }
  context.console.Line(kLineEnd);
}

void ReplaceSwitch(CommandContext& context, const SwitchLine& line, bool case_insensitive) {
  ReplaceCommand(context, case_insensitive, core::SecretString(core::Trim(line.tail)),
                 core::Trim(line.shown_tail));
}

void ReplaceIgnoringCase(CommandContext& context, const SwitchLine& line) {
  ReplaceSwitch(context, line, true);
}

void ReplaceExact(CommandContext& context, const SwitchLine& line) {
  ReplaceSwitch(context, line, false);
}

void SetSwitchLine(CommandContext& context, const SwitchLine& line) {
  // A switch that fails has counted as a failed command itself.
  (void)SetCommand(context, core::TrimLeft(line.tail), core::TrimLeft(line.shown_tail));
}

// A picture setting is no place for a password: it is read from the masked text, so neither
// message of the switch can show a deciphered one.
void PictureSwitch(CommandContext& context, const SwitchLine& line) {
  SetPictureOptions(core::Trim(line.shown_tail).substr(4), context.state.picture_interval,
                    context.state.picture_type, context.console);
}

struct SwitchHandler {
  char letter;
  void (*handle)(CommandContext&, const SwitchLine&);
};

constexpr std::array<SwitchHandler, 6> kSwitches{{
    {'?', ShowResolved},
    {'P', PrinterSwitch},
    {'R', ReplaceIgnoringCase},
    {'L', ReplaceExact},
    {'S', SetSwitchLine},
    {'J', PictureSwitch},
}};

void CarryOutSwitch(CommandContext& context,
                    const CommandLineParts& parts,
                    const CommandLineParts& shown_parts) {
  const std::string& tail = parts.switch_tail;
  const std::string& shown_tail = shown_parts.switch_tail;
  // " /X5" and a letter: anything shorter is no switch. A password that holds "/X5" must not
  // make a switch of its own, nor turn one switch into another.
  if (tail.size() < 5 || shown_tail.size() < 5 ||
      core::UpperAscii(tail[4]) != core::UpperAscii(shown_tail[4])) {
    FlushEdit(context);
    return;
  }
  const char letter = core::UpperAscii(tail[4]);
  for (const SwitchHandler& handler : kSwitches) {
    if (handler.letter == letter) {
      handler.handle(context, SwitchLine{tail, shown_tail});
      return;
    }
  }
  FlushEdit(context);
}

}  // namespace

bool IsKnownSwitch(char letter) noexcept {
  for (const SwitchHandler& handler : kSwitches)
    if (handler.letter == core::UpperAscii(letter))
      return true;
  return false;
}

std::string KnownSwitches() {
  std::string list;
  for (const SwitchHandler& handler : kSwitches)
    list += (list.empty() ? "/X5" : ", /X5") + std::string(1, handler.letter);
  return list;
}

void FlushEdit(CommandContext& context) noexcept {
  if (context.state.edit.file_name.empty()) {
    return;
  }
  const EditResult result = SaveEdit(context.state.edit, context.files);
  try {
    context.console.Line(context.state.edit.message);
  } catch (...) {
    core::UnexpectedFault("FlushEdit");
  }
  if (Failed(result)) {
    FailedCommand(context);
  }
}

DispatchedCommand DispatchLine(CommandContext& context, std::string_view line, DispatchMode mode) {
  DispatchedCommand result;
  if (mode != DispatchMode::kExecute) {
    CommandLineParts parts;
    ParseCommandLine(parts, context.expander.Expand(line, false), context.associations,
                     context.runner_drive);
    AppendContribution(result.shown, parts, mode);
    return result;
  }

  const core::Expansion expanded = context.expander.ExpandDeciphered(line, false);
  // The line is cut (and its program looked up) as the console shows it; the deciphered text is
  // cut at the same places, so what runs is what is shown with the passwords in their masks.
  CommandLineParts shown_parts;
  ParseCommandLine(shown_parts, expanded.shown, context.associations, context.runner_drive);
  CommandLineParts deciphered_parts;
  if (!expanded.passwords.empty()) {
    const std::string_view deciphered = expanded.deciphered.View();
    const CommandCuts cuts = FindCommandCuts(expanded.shown);
    const CommandCuts at{
        expanded.DecipheredPosition(cuts.begin), expanded.DecipheredPosition(cuts.switch_at),
        expanded.DecipheredPosition(cuts.command_end), expanded.DecipheredPosition(cuts.token_end)};
    // A password that holds a switch, a blank or a quote where it would move a cut: the line
    // would run otherwise than shown.
    if (FindCommandCuts(deciphered) != at) {
      result.refused_line = expanded.shown;
      return result;
    }
    deciphered_parts = shown_parts;
    if (at.switch_at != std::string_view::npos) {
      deciphered_parts.switch_tail = " ";
      deciphered_parts.switch_tail.append(deciphered.substr(at.switch_at));
    }
    if (at.command_end != std::string_view::npos) {
      const std::string_view command = deciphered.substr(at.begin, at.command_end - at.begin);
      // A found program's token holds no password (its name has no mask); the one of a line
      // that runs as written may.
      std::string token = SplitToken(command, deciphered_parts.parameters, false);
      if (shown_parts.kind == CommandKind::kNotFound) {
        deciphered_parts.program_token = std::move(token);
      }
    }
  }
  const CommandLineParts& parts = expanded.passwords.empty() ? shown_parts : deciphered_parts;

  CarryOutSwitch(context, parts, shown_parts);
  // Consecutive switch-only lines share one edit; a line that runs something saves it first.
  if (!parts.program_token.empty()) {
    FlushEdit(context);
  }
  result.command_line.Reserve(line.size() + 256);
  AppendContribution(result.command_line, parts, mode);
  AppendContribution(result.shown, shown_parts, mode);
  return result;
}

DispatchedCommand DispatchCommand(CommandContext& context,
                                  std::string_view text,
                                  DispatchMode mode) noexcept {
  try {
    context.state.edit.file_name.clear();
    context.state.edit.buffer.clear();
    DispatchedCommand result;
    result.command_line.Reserve(text.size() + 256);
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find(kLineEnd, start);
      const std::string_view line =
          text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      const DispatchedCommand contribution = DispatchLine(context, line, mode);
      if (!contribution.refused_line.empty()) {
        // Nothing of the command runs: its other lines may depend on the one refused.
        context.console.Line(std::string(kRefusedLine) + contribution.refused_line);
        FlushEdit(context);
        FailedCommand(context);
        return {};
      }
      Join(result.command_line, contribution.command_line);
      Join(result.shown, contribution.shown);
      if (end == std::string_view::npos) {
        break;
      }
      start = end + kLineEnd.size();
    }
    FlushEdit(context);
    return result;
  } catch (...) {
    // Never run half a command line: nothing runs, and the step RC shows the failed commands.
    core::ReportFault(context.console, "/X5 commands", core::UnexpectedFault("DispatchCommand"));
    FlushEdit(context);
    if (mode == DispatchMode::kExecute)
      FailedCommand(context);
    return {};
  }
}

}  // namespace x5::commands
