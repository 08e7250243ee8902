// Pictures of a process's titled top-level windows, taken before the process is ended.
#include "pictures/capture_win.h"

namespace x5::modCapture {

int32_t CaptureProcessWindows(uint32_t, const std::string&, bool, int32_t, const std::string&) {
  // Window capture is not part of this build yet: no picture is taken.
  return 0;
}

}  // namespace x5::modCapture
