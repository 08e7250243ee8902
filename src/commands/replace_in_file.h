// The replace switches "/X5R" and "/X5L": a file read whole, edited by one or more consecutive
// switches and saved once, safely, when the dispatcher flushes the edit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/secret_string.h"
#include "commands/case_fold.h"
#include "commands/command_context.h"
#include "commands/file_access.h"

namespace x5::commands {

enum class EditRequest : uint8_t {
  kReplaceExact = 0,
  kReplaceIgnoringCase = 1,
  kSave = 3,
};

// What a replace switch or the save of its edit did.
enum class EditResult : uint8_t {
  kFileRead,           // file read and replacement made
  kBufferChanged,      // replacement made in the pending edit
  kSaved,              // the pending edit went to its file
  kNothingToSave,      // no edit was pending
  kNoParameters,       // the switch has no parameters
  kOneParameter,       // the replacement is missing
  kTooManyParameters,  // more than find, replacement, input and output
  kInputError,         // the input file is missing or cannot be opened
  kInputTooLarge,      // the input file is larger than an edit may be
  kReadError,          // the input cannot be read, or the edited text cannot be held
  kNothingPending,     // no input file named and no edit pending (or the input is empty)
  kReplaceFailed,      // the old output file could not be replaced
  kWriteFailed,        // the new content could not be written
};

// The number of a result, as the console's "Error code=" lines show it: the successes 1 to 3,
// nothing to save 0, the failures -1 to -9.
[[nodiscard]] int32_t EditCode(EditResult result) noexcept;
[[nodiscard]] inline bool Failed(EditResult result) noexcept {
  return EditCode(result) < 0;
}

// Writes a pending edit to its file (through a temporary file, so a failed save leaves the old
// file whole) and clears it; on failure the edit stays pending. The message says what happened.
[[nodiscard]] EditResult SaveEdit(PendingEdit& edit, FileAccess& files) noexcept;

// A replace request carries the switch parameters: find text, replacement text, and optionally
// the input and output files (the output defaults to the input). Without an input file the
// pending edit is changed. A save request ignores the parameters. `max_buffer` bounds how large
// replacements may make the text. `shown_parameters` are the same parameters with passwords
// masked: messages name files by them, and parameters that a password cuts otherwise are refused.
[[nodiscard]] EditResult EditFile(PendingEdit& edit,
                                  EditRequest request,
                                  std::string_view parameters,
                                  std::string_view shown_parameters,
                                  FileAccess& files,
                                  const CaseFold& fold,
                                  size_t max_buffer) noexcept;

// Parameters that hold no password.
[[nodiscard]] inline EditResult EditFile(PendingEdit& edit,
                                         EditRequest request,
                                         std::string_view parameters,
                                         FileAccess& files,
                                         const CaseFold& fold,
                                         size_t max_buffer) noexcept {
  return EditFile(edit, request, parameters, parameters, files, fold, max_buffer);
}

// Carries out one replace switch: `switch_text` is the trimmed switch tail ("/X5R ..."), as
// expanded with the line (passwords deciphered); `shown_text` is the same tail expanded with
// passwords masked, used for everything written to the console. The edited file may receive a
// deciphered password; the console never does. A failure raises the step RC value and copies the
// console into the console file.
EditResult ReplaceCommand(CommandContext& context,
                          bool case_insensitive,
                          const core::SecretString& switch_text,
                          std::string_view shown_text) noexcept;

}  // namespace x5::commands
