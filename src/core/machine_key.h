// The registry key of the local machine under which the runners of one machine keep what they
// share (the capture lock); the host's set-up creates it, and a machine without it takes pictures
// without the lock.
#pragma once

#include <string_view>

namespace x5::core {

inline constexpr std::string_view kRunnersMachineKey = "Software\\Halvex";

}  // namespace x5::core
