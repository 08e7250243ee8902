// How long picture work may keep the runner: the longest picture interval, the time one KILL, end
// of job or picture request may spend on pictures in all, and the console line when it ran out.
#include "pictures/capture_bounds.h"

#include <algorithm>

namespace x5::pictures {

uint32_t PictureTimeAllowedMs(size_t windows, int32_t interval) noexcept {
  const int32_t bounded = BoundedPictureInterval(interval);
  const uint64_t per_window = kPictureTimePerWindowMs + static_cast<uint64_t>(std::max(bounded, 0));
  const uint64_t count = std::max<size_t>(windows, 1);
  // Past the cap the product no longer matters, so a count that would overflow cannot either.
  if (count >= kLongestPictureWorkMs / per_window + 1)
    return kLongestPictureWorkMs;
  return static_cast<uint32_t>(std::min<uint64_t>(count * per_window, kLongestPictureWorkMs));
}

int32_t LockTriesWithin(uint32_t remaining_ms) noexcept {
  return static_cast<int32_t>(
      std::min<uint32_t>(remaining_ms / kLockTryWaitMs, static_cast<uint32_t>(kLockTries)));
}

std::string PicturesCutShortLine(uint32_t allowed_ms, int32_t missed, bool ending) {
  std::string line = "\r\n***** Pictures stopped after their time limit of " +
                     std::to_string(allowed_ms) + " msec: " + std::to_string(missed) +
                     " window(s) not pictured";
  if (ending)
    line += ", the processes are ended without them";
  return line + " *****\r\n";
}

}  // namespace x5::pictures
