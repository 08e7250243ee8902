// Guards for the states a window capture puts the desktop in: each is undone when its guard goes,
// on every path (a failure, an exception, a window that vanished meanwhile).
#pragma once

#include <windows.h>

#include <cstdint>

#include "pictures/capture_bounds.h"
#include "pictures/capture_lock_win.h"

namespace x5::pictures {

// The input of one thread attached to another's.
class InputAttachment {
 public:
  InputAttachment(DWORD from_thread, DWORD to_thread) noexcept
      : from_(from_thread),
        to_(to_thread),
        attached_(from_thread != 0 && to_thread != 0 && from_thread != to_thread &&
                  AttachThreadInput(from_thread, to_thread, TRUE) != FALSE) {}
  InputAttachment(const InputAttachment&) = delete;
  InputAttachment& operator=(const InputAttachment&) = delete;
  ~InputAttachment() {
    if (attached_)
      AttachThreadInput(from_, to_, FALSE);
  }

 private:
  DWORD from_;
  DWORD to_;
  bool attached_;
};

// Keyboard and mouse input blocked. Where the system refuses (no right to, or no support), the
// capture goes on with input open, and nothing is unblocked that this guard did not block.
class InputBlock {
 public:
  using BlockFunction = BOOL(WINAPI*)(BOOL block);

  explicit InputBlock(BlockFunction block = &BlockInput) noexcept
      : block_(block), blocked_(block_(TRUE) != FALSE) {}
  InputBlock(const InputBlock&) = delete;
  InputBlock& operator=(const InputBlock&) = delete;
  ~InputBlock() {
    if (blocked_)
      block_(FALSE);
  }

 private:
  BlockFunction block_;
  bool blocked_;
};

// The window in the topmost band, at its own place and size, with its frame drawn anew; a window
// that was not topmost before leaves the band again (without being activated: it is hidden
// next). Both requests are handed to the window's thread without waiting for it, so a window
// that stops answering cannot stop the runner.
class TopmostPlacement {
 public:
  explicit TopmostPlacement(HWND window) noexcept
      : window_(window), was_topmost_((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) {
    Apply();
  }
  TopmostPlacement(const TopmostPlacement&) = delete;
  TopmostPlacement& operator=(const TopmostPlacement&) = delete;
  ~TopmostPlacement() {
    if (applied_ && !was_topmost_) {
      SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    }
  }

  // Again, for a window that another one pushed down meanwhile.
  void Apply() noexcept {
    if (SetWindowPos(
            window_, HWND_TOPMOST, 0, 0, 0, 0,
            SWP_SHOWWINDOW | SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS)) {
      applied_ = true;
    }
  }

 private:
  HWND window_;
  bool was_topmost_;
  bool applied_ = false;
};

// Drawing in the window held back while its pixels are copied.
class WindowUpdateLock {
 public:
  explicit WindowUpdateLock(HWND window) noexcept : locked_(LockWindowUpdate(window) != FALSE) {}
  WindowUpdateLock(const WindowUpdateLock&) = delete;
  WindowUpdateLock& operator=(const WindowUpdateLock&) = delete;
  ~WindowUpdateLock() {
    if (locked_)
      LockWindowUpdate(nullptr);
  }

 private:
  bool locked_;
};

// The capture lock, held with the window's handle as token and released whenever it was taken.
// No wait to take it runs past `acquire_end`, none to free it past `end_tick` (GetTickCount64; 0
// for no end). Its key and exclusion stay open from the acquire to the release.
class CaptureLockHold {
 public:
  static constexpr const char* kName = "Capture";

  CaptureLockHold(int32_t token, int32_t tries, uint64_t acquire_end, uint64_t end_tick) noexcept
      : token_(token),
        end_tick_(end_tick),
        hold_(kName),
        result_(hold_.Acquire(token, tries, static_cast<int32_t>(kLockTryWaitMs), acquire_end)) {}
  CaptureLockHold(const CaptureLockHold&) = delete;
  CaptureLockHold& operator=(const CaptureLockHold&) = delete;
  ~CaptureLockHold() { Release(); }

  // Frees the lock now (once); the window is hidden after the lock is free.
  void Release() noexcept {
    // A lock that cannot be freed is taken over by the next runner once its wait runs out.
    if (LockAcquired(result_))
      (void)hold_.Release(token_, 60, static_cast<int32_t>(kLockTryWaitMs), end_tick_);
    result_ = LockState::kFreed;
  }

 private:
  int32_t token_;
  uint64_t end_tick_;
  RegistryLockHold hold_;
  core::Result<LockState> result_;
};

}  // namespace x5::pictures
