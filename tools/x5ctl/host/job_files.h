// The files a job keeps beside its RC file (its state), per platform (host/job_files_posix.cpp,
// host/job_files_win.cpp): replaced whole so that a crash loses nothing, read without following a
// link; and who writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace x5::ctl::host {

// Replaces the file at `path` whole: a new file beside it, written and flushed to disk, renamed
// over it (and the folder flushed), so that a reader sees the old bytes or the new, never a part,
// also after a crash. The new file keeps the old one's permissions, without set-id bits. A link, a
// folder or anything else that is not a regular file at `path` is refused, never followed.
[[nodiscard]] core::Result<void> ReplaceWholeFile(const std::filesystem::path& path,
                                                  std::string_view bytes);

// The bytes of the regular file at `path`, opened without following a link; nullopt when there is
// no file. A link, a folder, a pipe or a file larger than `limit` is refused.
[[nodiscard]] core::Result<std::optional<std::string>> ReadRegularFile(
    const std::filesystem::path& path,
    size_t limit);

// This machine's name, and this process's id, for the records of who ran a step.
std::string HostName();
int64_t ProcessId();

}  // namespace x5::ctl::host
