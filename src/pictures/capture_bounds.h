// How long picture work may keep the runner: the longest picture interval, the time one KILL, end
// of job or picture request may spend on pictures in all, and the console line when it ran out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace x5::pictures {

// The longest pause before a grab. A larger interval (up to 2^31 ms, about 24 days) would keep a
// KILL from ever ending the step, and input stays blocked during the pause.
inline constexpr int32_t kLongestPictureIntervalMs = 10'000;
// Each window may take this much on top of its interval, and all of them together at most the
// longest picture work.
inline constexpr uint32_t kPictureTimePerWindowMs = 2'000;
inline constexpr uint32_t kLongestPictureWorkMs = 60'000;
// The capture lock is asked again every this many milliseconds while another runner holds it.
inline constexpr uint32_t kLockTryWaitMs = 200;
inline constexpr int32_t kLockTries = 200;

// The interval as pictures use it: negative (pictures off) and short intervals unchanged, longer
// ones cut to the longest.
[[nodiscard]] constexpr int32_t BoundedPictureInterval(int32_t interval) noexcept {
  return interval > kLongestPictureIntervalMs ? kLongestPictureIntervalMs : interval;
}

// The time the pictures of `windows` windows may take at `interval`: 2 s plus the (bounded)
// interval per window, at least one window's worth, at most 60 s.
[[nodiscard]] uint32_t PictureTimeAllowedMs(size_t windows, int32_t interval) noexcept;

// Tries of the capture lock that fit in `remaining_ms` (each waits kLockTryWaitMs), at most the
// lock's usual 200.
[[nodiscard]] int32_t LockTriesWithin(uint32_t remaining_ms) noexcept;

// The one console line saying that the time ran out before `missed` windows were pictured; with
// `ending`, that the processes are ended without those pictures.
std::string PicturesCutShortLine(uint32_t allowed_ms, int32_t missed, bool ending);

}  // namespace x5::pictures
