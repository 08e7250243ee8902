// Pictures of a process's titled top-level windows, taken before the process is ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pictures/picture_file_win.h"
#include "pictures/picture_names.h"

namespace x5::pictures {

// The time one KILL, end of job or picture request may spend on pictures, shared by all of its
// windows. Windows still to be pictured when it has run out are counted instead.
class CaptureDeadline {
 public:
  explicit CaptureDeadline(uint32_t allowed_ms) noexcept
      : allowed_ms_(allowed_ms), end_tick_(GetTickCount64() + allowed_ms) {}

  uint32_t AllowedMs() const noexcept { return allowed_ms_; }
  uint64_t EndTick() const noexcept { return end_tick_; }
  uint32_t RemainingMs() const noexcept {
    const uint64_t now = GetTickCount64();
    return now >= end_tick_ ? 0 : static_cast<uint32_t>(end_tick_ - now);
  }
  void CountMissed() noexcept { ++missed_; }
  int32_t Missed() const noexcept { return missed_; }

 private:
  uint32_t allowed_ms_;
  uint64_t end_tick_;
  int32_t missed_ = 0;
};

// One picture file per titled visible top-level window of the process, named from `directory`
// (the picture prefix). `windows` are the process's visible top-level windows in Z order, taken
// in one pass over the desktop for all processes pictured together; one that is hidden or gone
// by its turn is passed over. With `killed_at_end` the process is ended next and its windows are
// not put back; without, each is put back as it was. The interval is cut to the longest picture
// interval, and nothing waits past the deadline. Returns the number of pictures written.
int32_t CaptureProcessWindows(uint32_t process_id,
                              const std::vector<HWND>& windows,
                              const std::string& directory,
                              bool killed_at_end,
                              int32_t picture_interval,
                              PictureType picture_type,
                              CaptureDeadline& deadline);

// State of one capture run (one process).
struct CaptureRun {
  std::string prefix;
  int32_t picture_interval = 200;
  bool jpeg_wanted = true;
  // The process is ended right after its pictures: what a step of the capture would change only
  // for a window that lives on (hiding it, raising a window already in front and uncovered) is
  // left out. A picture request keeps every step, as its windows live on.
  bool before_end = false;
  struct Captured {
    HWND window;
    WINDOWPLACEMENT placement;  // before its capture, to put it back
  };
  std::vector<Captured> captured;   // in capture order, to put back (not kept before an end)
  std::vector<HWND> not_answering;  // windows whose thread let a request time out: not waited for
  int32_t pictures_written = 0;
  CaptureDeadline* deadline = nullptr;      // shared with the other processes' runs; none: no end
  ImagingSession* imaging = &RunImaging();  // the runner's, shared by every capture run
};

// Captures one window as picture number `window_number` (counted in `run`), then hands it a hide
// unless its process is ended next. A handle that is not positive is passed over; a window the
// deadline leaves no time for is counted as missed.
void CaptureWindow(HWND window,
                   uint32_t process_id,
                   int32_t window_number,
                   const std::string& sanitised_title,
                   CaptureRun& run) noexcept;

// The whole window, frame included; a negative handle stands for the foreground window.
[[nodiscard]] WindowPicture GrabWindowPicture(HWND window) noexcept;

// The window's text, asked for at most `timeout_ms` (and not at all of a hung window); the text
// the system keeps for it otherwise, with `answered` false. "" when it has none.
[[nodiscard]] std::string WindowTitle(HWND window, uint32_t timeout_ms, bool& answered);

// Top-level windows of the desktop in Z order.
[[nodiscard]] std::vector<HWND> TopLevelWindows();

// True when the window is the foreground window, shown, not minimised, with nothing left to
// repaint, and no visible window above it in the Z order overlaps it: what the screen shows of it
// is all of it, as showing and raising it would make it.
[[nodiscard]] bool InFrontAndUncovered(HWND window) noexcept;

// Connects the runner to the desktop's window manager. A process's first window call does this
// and costs tens of milliseconds under Wine; made while the step starts, it is not paid by the
// KILL that later names and pictures the step's windows.
void ConnectToWindowManager() noexcept;

}  // namespace x5::pictures
