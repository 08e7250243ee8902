// Whole-file reading with a size limit and atomic file replacement, for the edit of the replace
// switches and the printer report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace x5::commands {

struct ReadOutcome {
  enum class State : uint8_t {
    kRead,         // the whole file is in the buffer
    kMissing,      // no such file
    kCheckFailed,  // the file could not be opened or its size not read
    kTooLarge,     // larger than the limit; `size` says how large
    kReadFailed,   // reading its bytes failed
  };
  State state = State::kRead;
  int64_t size = 0;
  int32_t error = 0;  // system error number for the failure states
};

struct WriteOutcome {
  enum class State : uint8_t {
    kWritten,        // the file now holds the new content
    kWriteFailed,    // the new content could not be written; the old file is untouched
    kReplaceFailed,  // the old file could not be replaced; it is untouched
  };
  State state = State::kWritten;
  int32_t error = 0;
};

class FileAccess {
 public:
  virtual ~FileAccess() = default;
  // Reads the whole file into `into` unless it is larger than `max_bytes` (also when it grows
  // past the limit while being read).
  [[nodiscard]] virtual ReadOutcome ReadWhole(std::string_view path,
                                              int64_t max_bytes,
                                              std::string& into) = 0;
  // Writes `content` to a temporary file beside `path`, then puts it in place in one step,
  // keeping the old file's attributes where the platform allows. On failure the old file stays.
  [[nodiscard]] virtual WriteOutcome WriteAtomically(std::string_view path,
                                                     std::string_view content) = 0;
  // As WriteAtomically, for a file in one of the job's folders: neither the folder nor the file
  // may be a link (nothing is written through one; `refusal` gets the console line saying so).
  [[nodiscard]] virtual WriteOutcome WriteJobFile(std::string_view path,
                                                  std::string_view content,
                                                  std::string& refusal) {
    refusal.clear();
    return WriteAtomically(path, content);
  }
  // The system's text for an error number, without a line end.
  virtual std::string ErrorText(int32_t error) = 0;
};

// The platform's file access (the Win32 one in the runner, POSIX natively).
[[nodiscard]] std::unique_ptr<FileAccess> MakeSystemFileAccess();

}  // namespace x5::commands
