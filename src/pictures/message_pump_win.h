// Handles the runner's pending window messages, so long picture work never leaves them waiting.
#pragma once

#include <windows.h>

namespace x5::pictures {

inline void PumpPendingMessages() noexcept {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace x5::pictures
