// Pictures of a process's titled top-level windows, taken before the process is ended.
#include "pictures/capture_win.h"

#include <cstring>
#include <exception>

#include "core/fault.h"
#include "pictures/capture_guards_win.h"
#include "pictures/picture_names.h"

namespace x5::modCapture {
namespace {

constexpr UINT kTitleTimeoutMs = 1000;
constexpr int kTitleBuffer = 1024;

// Window handles are 32-bit values on every Windows; the token and the file name use that value.
int32_t Token(HWND window) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
}

// A step that hangs is what gets killed most: its windows are told what to do without waiting
// for them, so the runner never hangs with them.
bool Hung(HWND window) {
  return IsHungAppWindow(window) != FALSE;
}

BOOL Show(HWND window, int command) {
  return Hung(window) ? ShowWindowAsync(window, command) : ShowWindow(window, command);
}

UINT PlacementFlags(HWND window) {
  return Hung(window) ? SWP_ASYNCWINDOWPOS : 0;
}

void PutBack(HWND window, WINDOWPLACEMENT placement) {
  if (Hung(window))
    placement.flags |= WPF_ASYNCWINDOWPLACEMENT;
  SetWindowPlacement(window, &placement);
  // Not every window manager shows the window from its placement alone.
  Show(window, static_cast<int>(placement.showCmd));
}

// Puts every captured window back as it was, last captured first, unless they are to stay
// hidden; also when a capture ended early.
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
    (void)UnexpectedFault("EnumWindows");
    return FALSE;
  }
}

// JPG first when wanted; BMP when not, or when the JPG could not be written.
bool WritePictures(HWND window,
                   uint32_t process_id,
                   int32_t window_number,
                   const std::string& title,
                   CaptureRun& run) {
  const uint32_t handle = static_cast<uint32_t>(Token(window));
  WindowPicture picture = GrabWindowPicture(window);
  if (run.jpeg_wanted && picture &&
      SaveJpg(picture, PictureFileName(run.prefix, process_id, window_number, handle, title, "jpg"),
              run.imaging)) {
    return true;
  }
  const std::string bmp =
      PictureFileName(run.prefix, process_id, window_number, handle, title, "bmp");
  DeleteFileA(bmp.c_str());
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

std::string WindowTitle(HWND window) {
  char buffer[kTitleBuffer] = {};
  DWORD_PTR length = 0;
  if (SendMessageTimeoutA(window, WM_GETTEXT, kTitleBuffer, reinterpret_cast<LPARAM>(buffer),
                          SMTO_ABORTIFHUNG | SMTO_BLOCK, kTitleTimeoutMs, &length) == 0) {
    // The system keeps the caption of another process's window and gives it without asking it.
    const int got = GetWindowTextA(window, buffer, kTitleBuffer);
    length = got > 0 ? static_cast<DWORD_PTR>(got) : 0;
  }
  if (length >= static_cast<DWORD_PTR>(kTitleBuffer))
    length = kTitleBuffer - 1;
  return std::string(buffer, strnlen(buffer, static_cast<size_t>(length)));
}

WindowPicture GrabWindowPicture(HWND window) noexcept {
  if (reinterpret_cast<intptr_t>(window) < 0)
    window = GetForegroundWindow();
  RECT rect{};
  if (window == nullptr || !GetWindowRect(window, &rect))
    return {};
  return WindowToPicture(window, false, 0, 0, rect.right - rect.left, rect.bottom - rect.top);
}

int32_t CaptureWindow(HWND window,
                      uint32_t process_id,
                      int32_t window_number,
                      const std::string& sanitised_title,
                      CaptureRun& run) noexcept {
  const int32_t token = Token(window);
  if (token <= 0)
    return -1;
  try {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    run.captured.push_back({window, placement});

    CaptureLockHold lock(token);
    HWND foreground = GetForegroundWindow();
    const DWORD foreground_thread =
        foreground != nullptr ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    InputAttachment attachment(foreground_thread, GetWindowThreadProcessId(window, nullptr));
    {
      // A minimised window is restored to be seen; a maximised one keeps what it showed.
      Show(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
      InputBlock input_block;
      TopmostPlacement topmost(window, PlacementFlags(window));
      if (run.picture_interval > 0) {
        Sleep(static_cast<DWORD>(run.picture_interval));
        topmost.Apply();
      }
      WindowUpdateLock updates(window);
      if (WritePictures(window, process_id, window_number, sanitised_title, run))
        ++run.pictures_written;
    }
    lock.Release();
    return Show(window, SW_HIDE);
  } catch (const std::exception&) {
    (void)UnexpectedFault("CaptureWindow");
    return -1;
  }
}

int32_t CaptureProcessWindows(uint32_t process_id,
                              const std::string& directory,
                              bool killed_at_end,
                              int32_t picture_interval,
                              const std::string& picture_type) {
  try {
    CaptureRun run;
    run.prefix = directory;
    run.picture_interval = picture_interval;
    run.jpeg_wanted = JpegWanted(picture_type);
    PutBackCaptured put_back(run, killed_at_end);
    int32_t counter = 0;
    for (HWND window : TopLevelWindows()) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      // Hidden windows showed nothing, and showing them would change what the step shows.
      if (owner != process_id || !IsWindowVisible(window))
        continue;
      const std::string title = WindowTitle(window);
      if (title.empty())
        continue;
      ++counter;
      (void)CaptureWindow(window, process_id, counter, SanitiseTitle(title), run);
    }
    return run.pictures_written;
  } catch (const std::exception&) {
    (void)UnexpectedFault("CaptureProcessWindows");
    return 0;
  }
}

}  // namespace x5::modCapture
