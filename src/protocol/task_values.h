// Values the main sequence derives from the task record: normalised limits and the console title.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/protocol.h"

namespace x5::protocol {

struct FileCheckLimits {
  int32_t file_buffer_size = 4096;
  int32_t check_interval = 32;  // chunks between looks for operator commands
  int32_t line_width = 0;
  int32_t line_limit = 256;
};

[[nodiscard]] FileCheckLimits NormaliseFileCheckLimits(const TaskRecord& task);

// User name "/" job name "." job number "." step number; the job log's title and the job's name.
std::string BuildConsoleTitle(const TaskRecord& task);

// 64 when the runner runs on a 64-bit system (ProgramFiles(x86) has two or more characters).
[[nodiscard]] uint8_t EffectiveOsVersion(uint8_t reported, const std::string& program_files_x86);

}  // namespace x5::protocol
