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

// Whether a rule's file name can name one file to look at: not empty, no wildcard (a pattern may
// match a file, but no length can be read for a pattern), no NUL byte.
inline bool NamesOneFile(std::string_view name) noexcept {
  return !name.empty() && name.find_first_of("*?") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The platform's rule files: each platform looks up a file's facts its own way; all open through
// OpenFileReader.
class SystemRuleFiles : public RuleFiles {
 public:
  core::Result<std::unique_ptr<ChunkReader>> Open(std::string_view name, bool exclusive) override {
    return OpenFileReader(name, exclusive);
  }
};

// The file system as rule files see it.
[[nodiscard]] std::unique_ptr<RuleFiles> MakeSystemRuleFiles();

}  // namespace x5::conditions
