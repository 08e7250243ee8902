// Writes, renames and deletes in the job's folders without following links: the one way the
// runner changes files in a folder the step's user may control.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "win/unique_handle.h"

namespace x5::win {

// The outcome of one change in a job folder.
struct JobFileOutcome {
  enum class State : uint8_t { kDone, kNothingToDelete, kFailed };
  State state = State::kDone;
  uint32_t error = 0;   // the system's error code when it failed
  std::string refusal;  // one console line naming the file, when a link was refused (failed)

  bool Done() const noexcept { return state == State::kDone; }
  bool Refused() const noexcept { return !refusal.empty(); }
};

enum class JobEntryKind : uint8_t {
  kMissing,
  kPlainFile,  // a file (not a folder, not a link) lying in the folder
  kOther,      // a folder, a link, or something that cannot be looked at
};

// A folder the runner changes files in. It is opened without following a link, must be a real
// folder (not a junction, symbolic link or mount point) whose final path lies directly in the
// final path of the folder above it, and stays open while the object lives: on Windows it can
// then be neither renamed nor replaced. Every file it touches is opened without following links
// and is checked to lie directly in it before a byte is written or anything is deleted.
class JobFolder {
 public:
  JobFolder() = default;
  JobFolder(JobFolder&&) noexcept = default;
  JobFolder& operator=(JobFolder&&) noexcept = default;

  // `folder` with or without its trailing backslash; relative paths are taken from the current
  // directory. `file_for_refusal` names the file in the refusal line when there is one in view.
  [[nodiscard]] static JobFolder Open(std::string_view folder,
                                      std::string_view file_for_refusal = {},
                                      std::string_view action = "written") noexcept;

  explicit operator bool() const noexcept { return static_cast<bool>(handle_); }
  // Why Open failed.
  const JobFileOutcome& Failure() const noexcept { return failure_; }
  // The folder as given, made absolute, with a trailing backslash.
  const std::string& Path() const noexcept { return path_; }
  // Where the folder really lies, as the system names it ("\\?\C:\...").
  const std::string& FinalPath() const noexcept { return final_path_; }

  // Opens `name` for writing and empties it, or creates it. An existing file is taken only when it
  // is a plain file lying in this folder with no other names (hard links): it is written in place.
  [[nodiscard]] ScopedFileHandle CreateOrEmpty(std::string_view name,
                                               JobFileOutcome& outcome) noexcept;

  // Opens `name` for reading and writing, or creates it, under the same checks, without emptying
  // it; others may open it too (a lock file whose holder writes a note into it).
  [[nodiscard]] ScopedFileHandle OpenOrCreate(std::string_view name,
                                              JobFileOutcome& outcome) noexcept;

  // Writes the pieces into the new file `temporary` and renames it over `name`, so that `name`
  // holds the old content or the whole new one. A `name` that is a link, a folder or lies
  // elsewhere is not replaced; the temporary file never outlives a failure.
  [[nodiscard]] JobFileOutcome Replace(std::string_view name,
                                       std::string_view temporary,
                                       std::initializer_list<std::span<const uint8_t>> pieces,
                                       bool flush) noexcept;

  // Deletes `name` through a handle checked to be a plain file lying in this folder (a link is
  // refused, not deleted: deleting through it may reach its target). 0 when there is none.
  [[nodiscard]] JobFileOutcome Delete(std::string_view name) noexcept;

  // `name` opened for reading when it is a plain file lying in this folder; empty otherwise.
  [[nodiscard]] ScopedFileHandle OpenForReading(std::string_view name) noexcept;

  // What `name` is, without following a link.
  [[nodiscard]] JobEntryKind Kind(std::string_view name) noexcept;

 private:
  ScopedFileHandle OpenPlainFile(std::string_view name,
                                 bool empty,
                                 JobFileOutcome& outcome) noexcept;

  ScopedFileHandle handle_;
  std::string path_;
  std::string final_path_;
  JobFileOutcome failure_;
};

// `path` opened for reading when it is a plain file whose final path lies directly in
// `folder_final` (the FinalPath of a JobFolder opened earlier): wherever the folder's name leads
// meanwhile, a file elsewhere is not read. Empty otherwise.
[[nodiscard]] ScopedFileHandle OpenForReadingIn(const std::string& folder_final,
                                                const std::string& path) noexcept;

// The path made absolute from the current directory; empty when it cannot be.
[[nodiscard]] std::string AbsolutePath(std::string_view path);

// Bytes of a text, for Replace.
[[nodiscard]] inline std::span<const uint8_t> AsBytes(std::string_view text) noexcept {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The name of the temporary file beside `name` that Replace writes first; the process id keeps
// two runners apart.
std::string TemporaryNameFor(std::string_view name);

}  // namespace x5::win
