// The replace switches "/X5R" and "/X5L": a file read whole, edited by one or more consecutive
// switches and saved once, safely, when the dispatcher flushes the edit.
#include "commands/replace_in_file.h"

#include <optional>
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

std::string ErrorCodeText(EditResult result, int32_t error, std::string_view text) {
  std::string message = "\r\nError code=";
  message += std::to_string(EditCode(result));
  message += '/';
  message += std::to_string(error);
  message += ' ';
  message.append(text);
  return message;
}

// The parameters of a replace switch, cut into their tokens.
struct EditParameters {
  std::optional<EditResult> problem;  // no, one or too many parameters
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
    p.problem = EditResult::kNoParameters;
    return p;
  }
  if (core::Trim(rest).empty()) {
    p.problem = EditResult::kOneParameter;
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
        p.problem = EditResult::kTooManyParameters;
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

int32_t EditCode(EditResult result) noexcept {
  switch (result) {
    case EditResult::kFileRead:
      return 1;
    case EditResult::kBufferChanged:
      return 2;
    case EditResult::kSaved:
      return 3;
    case EditResult::kNothingToSave:
      return 0;
    case EditResult::kNoParameters:
      return -1;
    case EditResult::kOneParameter:
      return -2;
    case EditResult::kTooManyParameters:
      return -3;
    case EditResult::kInputError:
      return -4;
    case EditResult::kInputTooLarge:
      return -5;
    case EditResult::kReadError:
      return -6;
    case EditResult::kNothingPending:
      return -7;
    case EditResult::kReplaceFailed:
      return -8;
    case EditResult::kWriteFailed:
      return -9;
  }
  return -9;
}

EditResult SaveEdit(PendingEdit& edit, FileAccess& files) noexcept {
  try {
    edit.message.clear();
    if (edit.file_name.empty()) {
      return EditResult::kNothingToSave;
    }
    const WriteOutcome outcome = files.WriteAtomically(edit.file_name, edit.buffer);
    if (outcome.state == WriteOutcome::State::kWritten) {
      edit.message = "File " + edit.shown_file_name + " (" + std::to_string(edit.buffer.size()) +
                     " bytes) saved\r\n";
      edit.file_name.clear();
      edit.shown_file_name.clear();
      edit.buffer.clear();
      edit.buffer.shrink_to_fit();
      return EditResult::kSaved;
    }
    const EditResult result = outcome.state == WriteOutcome::State::kReplaceFailed
                                  ? EditResult::kReplaceFailed
                                  : EditResult::kWriteFailed;
    edit.message = "ERROR - File NOT saved: " + edit.shown_file_name + "\r\n";
    edit.message += ErrorCodeText(result, outcome.error, files.ErrorText(outcome.error)).substr(2);
    edit.message += "\r\n";
    return result;
  } catch (...) {
    core::UnexpectedFault("SaveEdit");
    return EditResult::kWriteFailed;
  }
}

EditResult EditFile(PendingEdit& edit,
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
        return EditResult::kNoParameters;
      }
    }
    const EditParameters& shown = same ? p : masked;
    if (p.problem) {
      switch (*p.problem) {
        case EditResult::kNoParameters:
          edit.message = "Empty command line\r\n";
          break;
        case EditResult::kOneParameter:
          edit.message = "Second change parameter missing\r\n";
          break;
        default:
          edit.message = "Too much parameters\r\n";
          break;
      }
      return *p.problem;
    }
    const std::string& input = p.input;

    std::string message;
    std::string content;
    EditResult result = EditResult::kBufferChanged;
    if (!input.empty()) {
      // A pending edit of another file goes out first. If it cannot be saved this command fails
      // and the edit stays pending, rather than being dropped for the new file.
      const EditResult saved = SaveEdit(edit, files);
      if (Failed(saved)) {
        return saved;
      }
      message = edit.message;
      const ReadOutcome read = files.ReadWhole(input, kMaxEditFileBytes, content);
      switch (read.state) {
        case ReadOutcome::State::kRead:
          break;
        case ReadOutcome::State::kMissing:
          edit.message = message + "Error on input file " + shown.input + "\r\n";
          return EditResult::kInputError;
        case ReadOutcome::State::kCheckFailed:
          edit.message =
              message + "Error on input file " + shown.input + "\r\n" +
              ErrorCodeText(EditResult::kInputError, read.error, files.ErrorText(read.error));
          return EditResult::kInputError;
        case ReadOutcome::State::kTooLarge:
          edit.message = "Edit file > 5.000.000 bytes - " + shown.input + " (" +
                         std::to_string(read.size) + " bytes)\r\n";
          return EditResult::kInputTooLarge;
        case ReadOutcome::State::kReadFailed:
          edit.message = message + ErrorCodeText(EditResult::kReadError, read.error,
                                                 files.ErrorText(read.error));
          return EditResult::kReadError;
      }
      // An empty file leaves nothing to edit, as when no file was named.
      if (content.empty()) {
        edit.message = message + "Edit file missing";
        return EditResult::kNothingPending;
      }
      message +=
          "\r\nFile " + shown.output + " opened (" + std::to_string(content.size()) + " bytes)\r\n";
      result = EditResult::kFileRead;
    } else if (edit.file_name.empty()) {
      edit.message = "Edit file missing";
      return EditResult::kNothingPending;
    }

    // The edit changes only when the whole replacement succeeded.
    std::string edited;
    const ReplaceOutcome outcome = ReplaceAll(
        input.empty() ? std::string_view(edit.buffer) : std::string_view(content), p.find,
        p.replacement, request == EditRequest::kReplaceIgnoringCase ? &fold : nullptr, max_buffer,
        edited);
    if (outcome != ReplaceOutcome::kDone) {
      edit.message =
          message + ErrorCodeText(EditResult::kReadError, kNotEnoughMemory,
                                  outcome == ReplaceOutcome::kTooLarge
                                      ? "The edited text would exceed " +
                                            std::to_string(max_buffer) + " bytes."
                                      : std::string("Not enough memory to hold the edited text."));
      return EditResult::kReadError;
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
      edit.message = ErrorCodeText(EditResult::kReadError, kNotEnoughMemory,
                                   "Not enough memory to hold the edited text.");
    } catch (...) {
      core::UnexpectedFault("EditFile");
    }
    return EditResult::kReadError;
  }
}

EditResult ReplaceCommand(CommandContext& context,
                          bool case_insensitive,
                          const core::SecretString& switch_text,
                          std::string_view shown_text) noexcept {
  EditResult result = EditResult::kNoParameters;
  try {
    // The argument is expanded once more (empty values quoted); what the first expansion
    // deciphered stays in the wiping type.
    const core::SecretString text = context.expander.ExpandSecret(switch_text, true);
    const std::string shown = context.expander.Expand(shown_text, true);
    context.state.edit.message = shown;
    context.console.Line("\r\n" + shown);
    if (text.Size() < kMinimalSwitch.size()) {
      context.console.Line("Invalid Replace function\r\n\r\n");
    } else {
      result = EditFile(
          context.state.edit,
          case_insensitive ? EditRequest::kReplaceIgnoringCase : EditRequest::kReplaceExact,
          text.View().substr(5), std::string_view(shown).substr(std::min<size_t>(5, shown.size())),
          context.files, context.case_fold, context.max_edit_buffer);
      context.console.Line(context.state.edit.message);
    }
  } catch (...) {
    core::ReportFault(context.console, "/X5R", core::UnexpectedFault("ReplaceCommand"));
    result = EditResult::kReadError;
  }
  if (Failed(result)) {
    FailedCommand(context);
  }
  return result;
}

}  // namespace x5::commands
