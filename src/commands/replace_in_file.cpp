// The replace switches "/X5R" and "/X5L": a file read whole, edited by one or more consecutive
// switches and saved once, safely, when the dispatcher flushes the edit.
#include "commands/replace_in_file.h"

#include <string>

#include "commands/command_split.h"
#include "commands/replace_text.h"
#include "core/ascii_text.h"
#include "core/fault.h"

namespace x5::commands {
namespace {

// Windows' number for "not enough memory", used for edits that cannot be held.
constexpr int32_t kNotEnoughMemory = 8;
constexpr std::string_view kMinimalSwitch = "/X5R a b";

std::string ErrorCodeText(int32_t result, int32_t error, std::string_view text) {
  std::string message = "\r\nError code=";
  message += std::to_string(result);
  message += '/';
  message += std::to_string(error);
  message += ' ';
  message.append(text);
  return message;
}

// The parameters of a replace switch, cut into their tokens.
struct EditParameters {
  int32_t problem = 0;  // kEditNoParameters, kEditOneParameter, kEditTooManyParameters, or 0
  std::string find;
  std::string replacement;
  std::string input;
  std::string output;  // the input when no output file is named
  bool output_named = false;
};

EditParameters SplitParameters(std::string_view parameters) {
  EditParameters p;
  std::string rest;
  p.find = SplitToken(parameters, rest, true);
  if (p.find.empty()) {
    p.problem = kEditNoParameters;
    return p;
  }
  if (core::Trim(rest).empty()) {
    p.problem = kEditOneParameter;
    return p;
  }
  std::string after_replacement;
  p.replacement = SplitToken(rest, after_replacement, true);
  if (!core::Trim(after_replacement).empty()) {
    std::string after_input;
    p.input = SplitToken(after_replacement, after_input, true);
    if (!core::Trim(after_input).empty()) {
      std::string after_output;
      p.output = SplitToken(after_input, after_output, true);
      p.output_named = !p.output.empty();
      if (!core::Trim(after_output).empty()) {
        p.problem = kEditTooManyParameters;
        return p;
      }
    }
  }
  if (p.output.empty()) {
    p.output = p.input;
  }
  return p;
}

// A password that holds a blank or a quote moves the other parameters: the edit would then go
// to a file the console does not name.
bool SameShape(const EditParameters& a, const EditParameters& b) {
  return a.problem == b.problem && a.input.empty() == b.input.empty() &&
         a.output_named == b.output_named;
}

}  // namespace

int32_t SaveEdit(PendingEdit& edit, FileAccess& files) noexcept {
  try {
    edit.message.clear();
    if (edit.file_name.empty()) {
      return kEditNothingToSave;
    }
    const WriteOutcome outcome = files.WriteAtomically(edit.file_name, edit.buffer);
    if (outcome.state == WriteOutcome::State::kWritten) {
      edit.message = "File " + edit.shown_file_name + " (" + std::to_string(edit.buffer.size()) +
                     " bytes) saved\r\n";
      edit.file_name.clear();
      edit.shown_file_name.clear();
      edit.buffer.clear();
      edit.buffer.shrink_to_fit();
      return kEditSaved;
    }
    const int32_t result = outcome.state == WriteOutcome::State::kReplaceFailed ? kEditReplaceFailed
                                                                                : kEditWriteFailed;
    edit.message = "ERROR - File NOT saved: " + edit.shown_file_name + "\r\n";
    edit.message += ErrorCodeText(result, outcome.error, files.ErrorText(outcome.error)).substr(2);
    edit.message += "\r\n";
    return result;
  } catch (...) {
    core::UnexpectedFault("SaveEdit");
    return kEditWriteFailed;
  }
}

int32_t EditFile(PendingEdit& edit,
                 EditRequest request,
                 std::string_view parameters,
                 std::string_view shown_parameters,
                 FileAccess& files,
                 const CaseFold& fold,
                 size_t max_buffer) noexcept {
  try {
    if (request == EditRequest::kSave) {
      return SaveEdit(edit, files);
    }
    const EditParameters p = SplitParameters(parameters);
    EditParameters masked;
    const bool same = shown_parameters == parameters;
    if (!same) {
      masked = SplitParameters(shown_parameters);
      if (!SameShape(p, masked)) {
        edit.message = "Invalid Replace function - a password moves its parameters\r\n";
        return kEditNoParameters;
      }
    }
    const EditParameters& shown = same ? p : masked;
    switch (p.problem) {
      case kEditNoParameters:
        edit.message = "Empty command line\r\n";
        return p.problem;
      case kEditOneParameter:
        edit.message = "Second change parameter missing\r\n";
        return p.problem;
      case kEditTooManyParameters:
        edit.message = "Too much parameters\r\n";
        return p.problem;
      default:
        break;
    }
    const std::string& input = p.input;

    std::string message;
    std::string content;
    int32_t result = kEditBufferChanged;
    if (!input.empty()) {
      // A pending edit of another file goes out first. If it cannot be saved this command fails
      // and the edit stays pending, rather than being dropped for the new file.
      const int32_t saved = SaveEdit(edit, files);
      if (saved < 0) {
        return saved;
      }
      message = edit.message;
      const ReadOutcome read = files.ReadWhole(input, kMaxEditFileBytes, content);
      switch (read.state) {
        case ReadOutcome::State::kRead:
          break;
        case ReadOutcome::State::kMissing:
          edit.message = message + "Error on input file " + shown.input + "\r\n";
          return kEditInputError;
        case ReadOutcome::State::kCheckFailed:
          edit.message = message + "Error on input file " + shown.input + "\r\n" +
                         ErrorCodeText(kEditInputError, read.error, files.ErrorText(read.error));
          return kEditInputError;
        case ReadOutcome::State::kTooLarge:
          edit.message = "Edit file > 5.000.000 bytes - " + shown.input + " (" +
                         std::to_string(read.size) + " bytes)\r\n";
          return kEditInputTooLarge;
        case ReadOutcome::State::kReadFailed:
          edit.message =
              message + ErrorCodeText(kEditReadError, read.error, files.ErrorText(read.error));
          return kEditReadError;
      }
      // An empty file leaves nothing to edit, as when no file was named.
      if (content.empty()) {
        edit.message = message + "Edit file missing";
        return kEditNothingPending;
      }
      message +=
          "\r\nFile " + shown.output + " opened (" + std::to_string(content.size()) + " bytes)\r\n";
      result = kEditFileRead;
    } else if (edit.file_name.empty()) {
      edit.message = "Edit file missing";
      return kEditNothingPending;
    }

    // The edit changes only when the whole replacement succeeded.
    std::string edited;
    const ReplaceOutcome outcome = ReplaceAll(
        input.empty() ? std::string_view(edit.buffer) : std::string_view(content), p.find,
        p.replacement, request == EditRequest::kReplaceIgnoringCase ? &fold : nullptr, max_buffer,
        edited);
    if (outcome != ReplaceOutcome::kDone) {
      edit.message =
          message + ErrorCodeText(kEditReadError, kNotEnoughMemory,
                                  outcome == ReplaceOutcome::kTooLarge
                                      ? "The edited text would exceed " +
                                            std::to_string(max_buffer) + " bytes."
                                      : std::string("Not enough memory to hold the edited text."));
      return kEditReadError;
    }
    if (!input.empty()) {
      edit.file_name = p.output;
      edit.shown_file_name = shown.output;
    }
    edit.buffer.swap(edited);
    message += "Replace succesful (" + std::to_string(edit.buffer.size()) + " bytes)\r\n";
    edit.message = std::move(message);
    return result;
  } catch (...) {
    core::UnexpectedFault("EditFile");
    try {
      edit.message = ErrorCodeText(kEditReadError, kNotEnoughMemory,
                                   "Not enough memory to hold the edited text.");
    } catch (...) {
      core::UnexpectedFault("EditFile");
    }
    return kEditReadError;
  }
}

int32_t ReplaceCommand(CommandContext& context,
                       bool case_insensitive,
                       const core::SecretString& switch_text,
                       std::string_view shown_text) noexcept {
  int32_t result = kEditNoParameters;
  try {
    // The argument is expanded once more (empty values quoted); what the first expansion
    // deciphered stays in the wiping type.
    const core::SecretString text = context.expander.ExpandSecret(switch_text, true);
    const std::string shown = context.expander.Expand(shown_text, true);
    context.edit.message = shown;
    context.console.Line("\r\n" + shown);
    if (text.Size() < kMinimalSwitch.size()) {
      context.console.Line("Invalid Replace function\r\n\r\n");
    } else {
      result = EditFile(
          context.edit,
          case_insensitive ? EditRequest::kReplaceIgnoringCase : EditRequest::kReplaceExact,
          text.View().substr(5), std::string_view(shown).substr(std::min<size_t>(5, shown.size())),
          context.files, context.case_fold, context.max_edit_buffer);
      context.console.Line(context.edit.message);
    }
  } catch (...) {
    core::ReportFault(context.console, "/X5R", core::UnexpectedFault("ReplaceCommand"));
    result = kEditReadError;
  }
  if (result < 1) {
    FailedCommand(context);
  }
  return result;
}

}  // namespace x5::commands
