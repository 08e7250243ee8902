// The job's RC carried from step to step in a file, for schedulers that run each step of a job as
// a job of their own: `x5ctl exec --rc-file` reads it as the task RC and writes the step's final
// current RC back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace x5::ctl::host {

// The file holds one decimal number (32-bit, optional sign) and a line end. Blanks and line ends
// around it are allowed; anything else, an empty file included, is refused: a file cut short or
// written by something else must not start a step with a guessed RC.
[[nodiscard]] core::Result<int32_t> ParseRcFileText(std::string_view text);
// "<rc>\n".
std::string RcFileText(int32_t rc);
// Larger files are refused unread.
inline constexpr size_t kRcFileMaxBytes = 256;
// The RC in the first bytes read from the RC file at `path` (up to kRcFileMaxBytes + 1).
[[nodiscard]] core::Result<std::optional<int32_t>> RcFromText(const std::filesystem::path& path,
                                                              std::string_view text);

// What the RC file gets from a step that was killed (a stop request) or whose end is unknown (the
// runner stopped answering or broke off): by default the job's maximum RC + 1 (or the step's own
// RC when it is higher), so that the steps after it run only in abend mode instead of going on
// as if nothing had happened; "report" writes the final report's RC as for any step (nothing
// without one); a number writes that number.
struct KilledStepRc {
  enum class Kind { kAbend, kReport, kValue };
  Kind kind = Kind::kAbend;
  int32_t value = 0;
};
// "abend", "report" or a 32-bit decimal number.
[[nodiscard]] core::Result<KilledStepRc> ParseKilledStepRc(std::string_view text);
// The RC to write for such a step; nullopt: leave the file as it was.
[[nodiscard]] std::optional<int32_t> RcOfKilledStep(const KilledStepRc& choice,
                                                    int32_t maximum_rc,
                                                    std::optional<int32_t> report_rc);

// Where the lock of an RC file lies: "<file>.lock" beside it. The RC file itself is replaced on
// every write, so a lock on it would be lost with the old file.
[[nodiscard]] std::filesystem::path RcLockPath(const std::filesystem::path& rc_file);

// The RC file of one job, held by one step from before its RC is read until after the new RC is
// written, so that two steps of one job cannot interleave: a second one is refused at once.
class RcFile {
 public:
  virtual ~RcFile() = default;  // gives up the lock
  // The RC in the file; nullopt when the file does not exist yet. A link, a folder, a FIFO or a
  // device in its place is refused, not read (platform part).
  [[nodiscard]] virtual core::Result<std::optional<int32_t>> Read() const = 0;
  // Replaces the file whole: a temporary file in the same folder, written and flushed to disk,
  // renamed over it. A reader sees the old RC or the new one, never a part. The new file keeps
  // the old one's permissions without set-id bits; a file that is not a regular one is refused.
  [[nodiscard]] virtual core::Result<void> Write(int32_t rc) = 0;
  const std::filesystem::path& Path() const { return path_; }

 protected:
  explicit RcFile(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

// Takes the lock without waiting (platform part: rc_file_posix.cpp, rc_file_win.cpp). The lock
// file is opened without following a link, must be a regular file with one name, and only the
// job's users may open it (created for its owner and, when the folder lets its group write, for
// that group). Who takes it (process, host, time and `what`, the task say) is written into it
// while the lock is held, so that a step refused meanwhile can say who holds it.
[[nodiscard]] core::Result<std::unique_ptr<RcFile>> LockRcFile(const std::filesystem::path& path,
                                                               std::string_view what);
// "x5ctl exec pid <pid> on <host> since <UTC time>, <what>".
std::string RcHolderNote(int64_t process_id, std::string_view host, std::string_view what);

}  // namespace x5::ctl::host
