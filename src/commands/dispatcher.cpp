// The internal command dispatcher: turns a step's command text into the one command line that
// runs, carrying out the "/X5" switches of its lines on the way.
#include "commands/dispatcher.h"

#include <array>

#include "commands/command_split.h"
#include "commands/command_text.h"
#include "commands/picture_settings.h"
#include "commands/printer_report.h"
#include "commands/replace_in_file.h"
#include "commands/set_command.h"
#include "core/fault.h"

namespace x5 {
namespace {

using command_text::Trim;
using command_text::TrimLeft;

constexpr std::string_view kLineEnd = "\r\n";

// A path with blanks is quoted, so the system does not try "C:\Program.exe" first.
std::string QuotedPath(const std::string& path) {
  if (path.find(' ') == std::string::npos || path.front() == '"') {
    return path;
  }
  return "\"" + path + "\"";
}

struct SwitchLine {
  const std::string& tail;  // the switch tail as expanded for running
  std::string_view line;    // the line as written, for the masked expansion
};

// The switch tail of the line expanded with passwords masked: what the console may show.
std::string ShownTail(CommandContext& context, const SwitchLine& line) {
  return SwitchTailOf(context.expander.Expand(line.line, false, false));
}

void ShowResolved(CommandContext& context, const SwitchLine&) {
  context.show_resolved = true;
}

void PrinterSwitch(CommandContext& context, const SwitchLine&) {
  FlushEdit(context);
  std::string path = context.global_parameter_directory;
  path.append(mPrnt::kPrinterReportFile);
  context.console.Line(kLineEnd);
  context.console.Line(path);
  bool written = false;
  context.console.Line(mPrnt::WritePrinterReport(context.printers, context.files,
                                                 context.global_parameter_directory, written));
  if (!written) {
    context.console.Line("ERROR - File NOT saved: " + path);
  }
  context.console.Line(kLineEnd);
}

void ReplaceSwitch(CommandContext& context, const SwitchLine& line, bool case_insensitive) {
  const std::string shown = ShownTail(context, line);
  (void)ReplaceCommand(context, case_insensitive, Trim(line.tail), Trim(shown));
}

void ReplaceIgnoringCase(CommandContext& context, const SwitchLine& line) {
  ReplaceSwitch(context, line, true);
}

void ReplaceExact(CommandContext& context, const SwitchLine& line) {
  ReplaceSwitch(context, line, false);
}

void SetSwitchLine(CommandContext& context, const SwitchLine& line) {
  const std::string shown = ShownTail(context, line);
  (void)SetCommand(context, TrimLeft(line.tail), TrimLeft(shown));
}

void PictureSwitch(CommandContext& context, const SwitchLine& line) {
  (void)SetPictureOptions(Trim(line.tail).substr(4), context.picture_interval, context.picture_type,
                          context.console);
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

void CarryOutSwitch(CommandContext& context, const CommandLineParts& parts, std::string_view line) {
  // " /X5" and a letter: anything shorter is no switch.
  if (parts.switch_tail.size() < 5) {
    FlushEdit(context);
    return;
  }
  const char letter = command_text::UpperAscii(parts.switch_tail[4]);
  for (const SwitchHandler& handler : kSwitches) {
    if (handler.letter == letter) {
      handler.handle(context, SwitchLine{parts.switch_tail, line});
      return;
    }
  }
  FlushEdit(context);
}

}  // namespace

void FlushEdit(CommandContext& context) noexcept {
  if (context.edit.file_name.empty()) {
    return;
  }
  const int32_t result = SaveEdit(context.edit, context.files);
  context.last_result = result;
  try {
    context.console.Line(context.edit.message);
  } catch (...) {
    (void)UnexpectedFault("FlushEdit");
  }
  if (result < 0) {
    FailedCommand(context);
  }
}

std::string DispatchLine(CommandContext& context, std::string_view line, DispatchMode mode) {
  const std::string expanded = context.expander.Expand(line, true, false);
  CommandLineParts parts;
  ParseCommandLine(parts, expanded, context.associations, context.runner_drive);

  if (mode == DispatchMode::kExecute) {
    CarryOutSwitch(context, parts, line);
    // Consecutive switch-only lines share one edit; a line that runs something saves it first.
    if (!parts.program_token.empty()) {
      FlushEdit(context);
    }
  }

  std::string contribution;
  if (mode == DispatchMode::kShowAsWritten) {
    contribution = parts.program_token + parts.parameters;
    return contribution;
  }
  switch (parts.kind) {
    case CommandKind::kDocument:
      contribution = QuotedPath(parts.associated_program) + " " + parts.program_token;
      break;
    case CommandKind::kProgram:
      contribution = QuotedPath(parts.associated_program);
      break;
    case CommandKind::kNotFound:
      contribution = parts.program_token;
      break;
  }
  contribution += parts.parameters;
  return contribution;
}

std::string DispatchCommand(CommandContext& context,
                            std::string_view text,
                            DispatchMode mode) noexcept {
  try {
    context.edit.file_name.clear();
    context.edit.buffer.clear();
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find(kLineEnd, start);
      const std::string_view line =
          text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      const std::string contribution = DispatchLine(context, line, mode);
      if (!contribution.empty()) {
        if (!result.empty()) {
          result += '&';
        }
        result += contribution;
      }
      if (end == std::string_view::npos) {
        break;
      }
      start = end + kLineEnd.size();
    }
    FlushEdit(context);
    return result;
  } catch (...) {
    // Never run half a command line: nothing runs, and the step RC shows the failed commands.
    ReportFault(context.console, "/X5 commands", UnexpectedFault("DispatchCommand"));
    FlushEdit(context);
    if (mode == DispatchMode::kExecute)
      FailedCommand(context);
    return {};
  }
}

}  // namespace x5
