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

// Edit results (also the runner's last result after a save).
inline constexpr int32_t kEditFileRead = 1;       // file read and replacement made
inline constexpr int32_t kEditBufferChanged = 2;  // replacement made in the pending edit
inline constexpr int32_t kEditSaved = 3;
inline constexpr int32_t kEditNothingToSave = 0;
inline constexpr int32_t kEditNoParameters = -1;
inline constexpr int32_t kEditOneParameter = -2;
inline constexpr int32_t kEditTooManyParameters = -3;
inline constexpr int32_t kEditInputError = -4;
inline constexpr int32_t kEditInputTooLarge = -5;
inline constexpr int32_t kEditReadError = -6;
inline constexpr int32_t kEditNothingPending = -7;
inline constexpr int32_t kEditReplaceFailed = -8;  // the old output file could not be replaced
inline constexpr int32_t kEditWriteFailed = -9;    // the new content could not be written

// Writes a pending edit to its file (through a temporary file, so a failed save leaves the old
// file whole) and clears it; on failure the edit stays pending. The message says what happened.
[[nodiscard]] int32_t SaveEdit(PendingEdit& edit, FileAccess& files) noexcept;

// A replace request carries the switch parameters: find text, replacement text, and optionally
// the input and output files (the output defaults to the input). Without an input file the
// pending edit is changed. A save request ignores the parameters. `max_buffer` bounds how large
// replacements may make the text. `shown_parameters` are the same parameters with passwords
// masked: messages name files by them, and parameters that a password cuts otherwise are refused.
[[nodiscard]] int32_t EditFile(PendingEdit& edit,
                               EditRequest request,
                               std::string_view parameters,
                               std::string_view shown_parameters,
                               FileAccess& files,
                               const CaseFold& fold,
                               size_t max_buffer) noexcept;

// Parameters that hold no password.
[[nodiscard]] inline int32_t EditFile(PendingEdit& edit,
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
int32_t ReplaceCommand(CommandContext& context,
                       bool case_insensitive,
                       const core::SecretString& switch_text,
                       std::string_view shown_text) noexcept;

}  // namespace x5::commands
