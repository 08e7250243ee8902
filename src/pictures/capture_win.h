// Pictures of a process's titled top-level windows, taken before the process is ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pictures/picture_file_win.h"

namespace x5::modCapture {

// One picture file per titled visible top-level window of the process, named from `directory`
// (the picture prefix). With `killed_at_end` the windows stay hidden as the capture leaves them;
// without, each is put back as it was. Returns the number of pictures written.
int32_t CaptureProcessWindows(uint32_t process_id,
                              const std::string& directory,
                              bool killed_at_end,
                              int32_t picture_interval,
                              const std::string& picture_type);

// State of one capture run (one process).
struct CaptureRun {
  std::string prefix;
  int32_t picture_interval = 200;
  bool jpeg_wanted = true;
  struct Captured {
    HWND window;
    WINDOWPLACEMENT placement;  // before its capture, to put it back
  };
  std::vector<Captured> captured;  // in capture order
  int32_t pictures_written = 0;
  ImagingSession imaging;
};

// Captures one window as picture number `window_number`. Returns the result of the final hide
// (non-zero when the window was visible), or -1 when the handle is not positive.
int32_t CaptureWindow(HWND window,
                      uint32_t process_id,
                      int32_t window_number,
                      const std::string& sanitised_title,
                      CaptureRun& run) noexcept;

// The whole window, frame included; a negative handle stands for the foreground window.
[[nodiscard]] WindowPicture GrabWindowPicture(HWND window) noexcept;

// The window's text, asked without waiting on a hung window; "" when it has none.
[[nodiscard]] std::string WindowTitle(HWND window);

// Top-level windows of the desktop in Z order.
[[nodiscard]] std::vector<HWND> TopLevelWindows();

}  // namespace x5::modCapture
