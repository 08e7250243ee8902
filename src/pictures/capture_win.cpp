// Pictures of a process's titled top-level windows, taken before the process is ended.
#include "pictures/capture_win.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include "core/fault.h"
#include "pictures/capture_bounds.h"
#include "pictures/capture_guards_win.h"
#include "pictures/picture_names.h"

namespace x5::pictures {
namespace {

// The longest the runner waits for one window's thread to answer (its title, or that it has
// handled a show or a raise). A step that hangs is what gets killed most: no call into its
// windows waits without an end, and a window that let one wait run out is not waited for again.
constexpr uint32_t kAnswerTimeoutMs = 500;
constexpr int kTitleBuffer = 1024;

// Window handles are 32-bit values on every Windows; the token and the file name use that value.
int32_t Token(HWND window) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
}

uint32_t RemainingMs(const CaptureRun& run) {
  return run.deadline != nullptr ? run.deadline->RemainingMs() : kLongestPictureWorkMs;
}

void CountMissed(CaptureRun& run) {
  if (run.deadline != nullptr)
    run.deadline->CountMissed();
}

bool Answers(const CaptureRun& run, HWND window) {
  return std::find(run.not_answering.begin(), run.not_answering.end(), window) ==
         run.not_answering.end();
}

// True once the window's thread has handled the requests handed to it before (a message sent
// after them is answered only then), within `timeout_ms`.
bool CaughtUp(HWND window, uint32_t timeout_ms) noexcept {
  DWORD_PTR ignored = 0;
  return timeout_ms > 0 && SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                               timeout_ms, &ignored) != 0;
}

// Gives an answering window time to show what it was asked to before it is grabbed.
void LetCatchUp(HWND window, CaptureRun& run) {
  if (!Answers(run, window))
    return;
  if (!CaughtUp(window, std::min(kAnswerTimeoutMs, RemainingMs(run))))
    run.not_answering.push_back(window);
}

// Waits, within bounds, until an answering window has painted what it owes: a window shown or
// uncovered a moment ago still has an update region, and its picture would show nothing there.
void LetPaint(HWND window, CaptureRun& run) {
  if (!Answers(run, window))
    return;
  const uint64_t end = GetTickCount64() + std::min(kAnswerTimeoutMs, RemainingMs(run));
  while (GetUpdateRect(window, nullptr, FALSE)) {
    if (GetTickCount64() >= end) {
      run.not_answering.push_back(window);
      return;
    }
    Sleep(10);
  }
}

void PutBack(HWND window, WINDOWPLACEMENT placement) {
  placement.flags |= WPF_ASYNCWINDOWPLACEMENT;
  SetWindowPlacement(window, &placement);
  // Not every window manager shows the window from its placement alone.
  ShowWindowAsync(window, static_cast<int>(placement.showCmd));
}

// Puts every captured window back as it was, last captured first, unless they are to stay
// hidden; also when a capture ended early. Answering windows are given time to be back before
// the runner goes on, so a picture request right after finds them shown.
class PutBackCaptured {
 public:
  PutBackCaptured(CaptureRun& run, bool leave_hidden) : run_(run), leave_hidden_(leave_hidden) {}
  PutBackCaptured(const PutBackCaptured&) = delete;
  PutBackCaptured& operator=(const PutBackCaptured&) = delete;
  ~PutBackCaptured() {
    if (leave_hidden_)
      return;
    for (size_t i = run_.captured.size(); i > 0; --i)
      PutBack(run_.captured[i - 1].window, run_.captured[i - 1].placement);
    for (const CaptureRun::Captured& item : run_.captured) {
      if (Answers(run_, item.window))
        CaughtUp(item.window, std::min(kAnswerTimeoutMs, RemainingMs(run_)));
    }
  }

 private:
  CaptureRun& run_;
  bool leave_hidden_;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  try {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
  } catch (const std::exception&) {
    core::UnexpectedFault("EnumWindows");
    return FALSE;
  }
}

// JPG first when wanted; BMP when not, or when the JPG could not be written (then the BMP's
// outcome is the picture's).
core::Result<void> WritePictures(HWND window,
                                 uint32_t process_id,
                                 int32_t window_number,
                                 const std::string& title,
                                 CaptureRun& run) {
  const uint32_t handle = static_cast<uint32_t>(Token(window));
  WindowPicture picture = GrabWindowPicture(window);
  if (run.jpeg_wanted && picture &&
      SaveJpg(picture, PictureFileName(run.prefix, process_id, window_number, handle, title, "jpg"),
              *run.imaging)) {
    return {};
  }
  // SaveBmp replaces an older file of this name itself, without following a link of that name.
  const std::string bmp =
      PictureFileName(run.prefix, process_id, window_number, handle, title, "bmp");
  if (!picture)
    picture = GrabWindowPicture(window);
  return SaveBmp(picture, bmp);
}

}  // namespace

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  windows.reserve(256);
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::string WindowTitle(HWND window, uint32_t timeout_ms, bool& answered) {
  char buffer[kTitleBuffer] = {};
  DWORD_PTR length = 0;
  answered = timeout_ms > 0 &&
             SendMessageTimeoutA(window, WM_GETTEXT, kTitleBuffer, reinterpret_cast<LPARAM>(buffer),
                                 SMTO_ABORTIFHUNG | SMTO_BLOCK, timeout_ms, &length) != 0;
  if (!answered) {
    // The system keeps the caption of another process's window and gives it without asking it.
    const int got = GetWindowTextA(window, buffer, kTitleBuffer);
    length = got > 0 ? static_cast<DWORD_PTR>(got) : 0;
  }
  if (length >= static_cast<DWORD_PTR>(kTitleBuffer))
    length = kTitleBuffer - 1;
  return std::string(buffer, strnlen(buffer, static_cast<size_t>(length)));
}

bool InFrontAndUncovered(HWND window) noexcept {
  RECT rect{};
  // A window with parts still to repaint (one shown a moment ago) is not on the screen whole yet.
  if (GetForegroundWindow() != window || !IsWindowVisible(window) || IsIconic(window) ||
      GetUpdateRect(window, nullptr, FALSE) || !GetWindowRect(window, &rect)) {
    return false;
  }
  // A desktop whose Z order keeps changing under the walk counts as covering the window.
  constexpr int kLongestWalk = 4096;
  int steps = 0;
  for (HWND above = GetWindow(window, GW_HWNDPREV); above != nullptr;
       above = GetWindow(above, GW_HWNDPREV)) {
    RECT other{};
    RECT common{};
    if (++steps > kLongestWalk || (IsWindowVisible(above) && GetWindowRect(above, &other) &&
                                   IntersectRect(&common, &rect, &other))) {
      return false;
    }
  }
  return true;
}

void ConnectToWindowManager() noexcept {
  GetDesktopWindow();
}

WindowPicture GrabWindowPicture(HWND window) noexcept {
  if (reinterpret_cast<intptr_t>(window) < 0)
    window = GetForegroundWindow();
  RECT rect{};
  if (window == nullptr || !GetWindowRect(window, &rect))
    return {};
  return WindowToPicture(window, false, 0, 0, rect.right - rect.left, rect.bottom - rect.top);
}

// Every request to the window is handed to its thread without waiting (ShowWindowAsync, the
// asynchronous topmost placement), and the runner waits for it to catch up only within bounds.
void CaptureWindow(HWND window,
                   uint32_t process_id,
                   int32_t window_number,
                   const std::string& sanitised_title,
                   CaptureRun& run) noexcept {
  const int32_t token = Token(window);
  if (token <= 0)
    return;
  try {
    const uint32_t interval = static_cast<uint32_t>(std::max(run.picture_interval, 0));
    // The lock is waited for only as long as leaves time for the pause and the grab (a try's
    // wait): a window that cannot be pictured in time is left as it is.
    const uint32_t reserve = interval + kLockTryWaitMs;
    const uint32_t remaining = RemainingMs(run);
    if (remaining < reserve) {
      CountMissed(run);
      return;
    }
    const uint64_t end_tick = run.deadline != nullptr ? run.deadline->EndTick() : 0;
    const uint64_t lock_end = end_tick != 0 ? end_tick - reserve : 0;
    CaptureLockHold lock(token, LockTriesWithin(remaining - reserve), lock_end, end_tick);
    if (RemainingMs(run) < interval) {
      CountMissed(run);
      return;
    }
    if (!run.before_end) {
      WINDOWPLACEMENT placement{};
      placement.length = sizeof(placement);
      GetWindowPlacement(window, &placement);
      run.captured.push_back({window, placement});
    }

    HWND foreground = GetForegroundWindow();
    const DWORD foreground_thread =
        foreground != nullptr ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    InputAttachment attachment(foreground_thread, GetWindowThreadProcessId(window, nullptr));
    {
      // Showing and raising a window that is in front, shown and uncovered changes nothing in its
      // picture, and before an end nothing else either. A picture request keeps every step.
      const bool raise = !run.before_end || !InFrontAndUncovered(window);
      // A minimised window is restored to be seen; a maximised one keeps what it showed.
      if (raise)
        ShowWindowAsync(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
      InputBlock input_block;
      std::optional<TopmostPlacement> topmost;
      if (raise) {
        topmost.emplace(window);
        LetCatchUp(window, run);
      }
      if (interval > 0) {
        Sleep(std::min(interval, RemainingMs(run)));
        // Again, for a window that another one pushed down or covered meanwhile.
        if (!run.before_end || !InFrontAndUncovered(window)) {
          if (topmost)
            topmost->Apply();
          else
            topmost.emplace(window);
          LetCatchUp(window, run);
        }
      }
      LetPaint(window, run);
      WindowUpdateLock updates(window);
      if (WritePictures(window, process_id, window_number, sanitised_title, run))
        ++run.pictures_written;
    }
    lock.Release();
    // Its process is ended next: hiding the window would change nothing anyone sees.
    if (run.before_end)
      return;
    ShowWindowAsync(window, SW_HIDE);
  } catch (const std::exception&) {
    core::UnexpectedFault("CaptureWindow");
    return;
  }
}

int32_t CaptureProcessWindows(uint32_t process_id,
                              const std::vector<HWND>& windows,
                              const std::string& directory,
                              bool killed_at_end,
                              int32_t picture_interval,
                              PictureType picture_type,
                              CaptureDeadline& deadline) {
  try {
    CaptureRun run;
    run.prefix = directory;
    run.picture_interval = BoundedPictureInterval(picture_interval);
    run.jpeg_wanted = picture_type == PictureType::kJpg;
    run.before_end = killed_at_end;
    run.deadline = &deadline;
    PutBackCaptured put_back(run, killed_at_end);
    int32_t counter = 0;
    for (HWND window : windows) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      // Hidden windows showed nothing, and showing them would change what the step shows; a
      // handle whose window is gone may already name another process's window.
      if (owner != process_id || !IsWindowVisible(window))
        continue;
      if (deadline.RemainingMs() == 0) {
        deadline.CountMissed();
        continue;
      }
      bool answered = false;
      const std::string title =
          WindowTitle(window, std::min(kAnswerTimeoutMs, deadline.RemainingMs()), answered);
      if (!answered)
        run.not_answering.push_back(window);
      if (title.empty())
        continue;
      ++counter;
      CaptureWindow(window, process_id, counter, SanitiseTitle(title), run);
    }
    return run.pictures_written;
  } catch (const std::exception&) {
    core::UnexpectedFault("CaptureProcessWindows");
    return 0;
  }
}

}  // namespace x5::pictures
