// Rule files on the real file system: file lookup and chunk readers (Win32 in the runner, POSIX in
// native builds).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "conditions/condition_file.h"

namespace x5::conditions {

// Opens a file for reading raw bytes at explicit offsets. With `exclusive` nobody else may have
// the file open, and nobody else can open it meanwhile (an advisory lock on POSIX). A failure
// carries the system's error code.
core::Result<std::unique_ptr<ChunkReader>> OpenFileReader(std::string_view path,
                                                          bool exclusive) noexcept;

// The file system as rule files see it.
[[nodiscard]] std::unique_ptr<RuleFiles> MakeSystemRuleFiles();

}  // namespace x5::conditions
