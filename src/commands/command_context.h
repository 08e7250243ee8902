// What the internal commands work with: the state they read and change and the outside world
// they reach through small interfaces. The main sequence owns all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "commands/case_fold.h"
#include "commands/command_split.h"
#include "commands/file_access.h"
#include "commands/printer_report.h"
#include "core/interfaces.h"
#include "core/rc_rules.h"
#include "pictures/picture_names.h"

namespace x5::commands {

// Copies the console text into the task's console file, as at the end of the job.
class ConsoleFile {
 public:
  virtual ~ConsoleFile() = default;
  virtual void Save() = 0;
};

// The edit of consecutive replace switches: the file it goes to, its text and the last message.
// An edit is pending while `file_name` is not empty (its text may be empty).
struct PendingEdit {
  std::string file_name;
  std::string shown_file_name;  // the name as the console may show it (passwords masked)
  std::string buffer;
  std::string message;
};

// How the dispatcher treats a command text.
enum class DispatchMode : uint8_t {
  kShowAsWritten = 0,  // job log: program token and parameters as written
  kShowResolved = 1,   // job log after "/X5?": the line as it will run, nothing carried out
  kExecute = 2,        // main sequence: switches carried out, the resolved line returned
};

// Largest file the replace switches read.
inline constexpr int64_t kMaxEditFileBytes = 5'000'000;
// Largest text an edit may grow to by replacements (lengths are reported as 32-bit numbers).
inline constexpr size_t kMaxEditBufferBytes = 0x7FFFFFFF;

// What the switches set for the rest of the run: the main sequence's step state embeds it, and
// every dispatch of a command text works on it.
struct SwitchState {
  int32_t picture_interval = 200;  // ms before each grab; negative: no pictures ("/X5J")
  pictures::PictureType picture_type = pictures::PictureType::kJpg;
  bool show_resolved = false;  // set by "/X5?"; the job log then shows lines resolved
  PendingEdit edit;
};

// What one dispatch works with: the outside world it reaches, the return-code state it may raise
// and the switches' state.
struct CommandContext {
  core::Expander& expander;
  core::VariableStore& variables;
  core::ConsoleSink& console;
  ConsoleFile& console_file;
  const Associations& associations;
  FileAccess& files;
  PrinterSource& printers;
  core::RcState& rc;
  SwitchState& state;
  const std::string& global_parameter_directory;  // ends with a backslash
  char runner_drive = '\0';  // drive letter of the runner's own folder; 0 when it has none
  CaseFold case_fold{};      // folding for "/X5R"; SystemCaseFold() in the runner
  size_t max_edit_buffer = kMaxEditBufferBytes;
};

// After a failed internal command: the step counts as failed (step RC value raised) and the
// console text is copied into the console file.
void FailedCommand(CommandContext& context) noexcept;

}  // namespace x5::commands
