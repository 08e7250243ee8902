// DIAG files: the running number and the file name in the job step's folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/protocol.h"

namespace x5::runner {

// The DIAG number after a DIAG command: an argument of 0 or more sets it, a negative argument
// counts on by one (held at the largest 32-bit value instead of wrapping).
[[nodiscard]] int32_t NextDiagNumber(int32_t current, int32_t argument) noexcept;

// The DIAG file: "DIAG", the number and ".txt" in the global parameter directory (which ends with
// a backslash). nullopt when the task names no console file, and while that directory is not
// known yet: a DIAG file is written nowhere else.
[[nodiscard]] std::optional<std::string> DiagFileName(const protocol::TaskRecord& task,
                                                      const std::string& global_parameter_directory,
                                                      int32_t diag_number);

}  // namespace x5::runner
