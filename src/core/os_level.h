// What the OS version code of a task (the parent's, or 64 on a 64-bit system) selects: the runner
// branches on below 4, 4, 5 or more, and 64.
#pragma once

#include <cstdint>

namespace x5::core {

// In the order of the codes, so that "4 or more" is `level >= OsLevel::kFour`.
enum class OsLevel : uint8_t {
  kBeforeFour,  // codes 0 to 3: no logon and no console handles for the step; the runner sizes
                // and minimises its console itself; no picture requests; no process times
  kFour,        // code 4: the main process's memory is measured, and only it is pictured
  kFive,        // codes 5 to 63 and 65 to 255: the middle priority classes, waiting for input idle
  kSixtyFour,   // code 64: a 64-bit system, where file-system redirection is switched off
};

[[nodiscard]] constexpr OsLevel OsLevelOf(uint8_t os_version) noexcept {
  if (os_version < 4)
    return OsLevel::kBeforeFour;
  if (os_version == 4)
    return OsLevel::kFour;
  return os_version == 64 ? OsLevel::kSixtyFour : OsLevel::kFive;
}

}  // namespace x5::core
