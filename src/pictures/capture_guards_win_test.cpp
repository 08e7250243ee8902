// The capture guards undo exactly what they did: input unblocked only when it was blocked, the
// topmost band left only by a window that was not in it, the capture lock released once.
#include "pictures/capture_guards_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "win/unique_handle.h"

namespace x5::pictures {
namespace {

std::vector<BOOL> block_calls;
BOOL block_answer = TRUE;

BOOL WINAPI RecordBlock(BOOL block) {
  block_calls.push_back(block);
  return block_answer;
}

TEST(CaptureGuards, InputIsUnblockedOnlyWhenItWasBlocked) {
  for (const BOOL granted : {TRUE, FALSE}) {
    block_calls.clear();
    block_answer = granted;
    { const InputBlock block(&RecordBlock); }
    EXPECT_EQ(block_calls, (granted ? std::vector<BOOL>{TRUE, FALSE} : std::vector<BOOL>{TRUE}));
  }
}

bool Topmost(HWND window) {
  return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

TEST(CaptureGuards, TopmostBandIsLeftOnlyByAWindowThatWasNotInIt) {
  for (const DWORD ex_style : {DWORD{0}, DWORD{WS_EX_TOPMOST}}) {
    const std::unique_ptr<HWND__, BOOL(WINAPI*)(HWND)> window(
        CreateWindowExA(ex_style, "STATIC", "guard", WS_OVERLAPPED, 10, 10, 200, 100, nullptr,
                        nullptr, nullptr, nullptr),
        &DestroyWindow);
    ASSERT_TRUE(window);
    {
      const TopmostPlacement placement(window.get());
      EXPECT_TRUE(Topmost(window.get()));
    }
    EXPECT_EQ(Topmost(window.get()), ex_style != 0);
  }
}

int32_t LockHolder() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Halvex\\Capture", "LOCK", RRF_RT_REG_DWORD,
                   nullptr, &value, &size) != ERROR_SUCCESS)
    return 0;
  return static_cast<int32_t>(value);
}

TEST(CaptureGuards, CaptureLockIsReleasedOnce) {
  win::ScopedKey parent;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvex", 0, nullptr, 0, KEY_READ,
                            nullptr, parent.put(), nullptr),
            ERROR_SUCCESS);
  {
    // The same token twice, as when one window is pictured again: only the guard's own record of
    // what it did keeps the first from freeing the second's lock.
    std::optional<CaptureLockHold> first(std::in_place, 101, 1, 0, 0);
    EXPECT_EQ(LockHolder(), 101);
    first->Release();
    EXPECT_EQ(LockHolder(), 0);
    const CaptureLockHold second(101, 1, 0, 0);
    first.reset();
    EXPECT_EQ(LockHolder(), 101);
  }
  EXPECT_EQ(LockHolder(), 0);
}

}  // namespace
}  // namespace x5::pictures
