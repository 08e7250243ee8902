// Pictures of a process's titled top-level windows, taken before the process is ended.
#pragma once

#include <cstdint>
#include <string>

namespace x5::modCapture {

// One picture file per titled top-level window of the process, in `directory`. Returns the
// number of pictures written.
int32_t CaptureProcessWindows(uint32_t process_id,
                              const std::string& directory,
                              bool killed_at_end,
                              int32_t picture_interval,
                              const std::string& picture_type);

}  // namespace x5::modCapture
