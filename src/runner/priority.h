// The two-digit step priority code: what it sets (priority class, thread priority) and how a
// process/thread pair reads back as a code.
#pragma once

#include <cstdint>

#include "core/os_level.h"
#include "core/result.h"

namespace x5::runner {

// The process priority classes the code can name. kOther is any class read back that is none of
// these.
enum class PriorityClass : uint8_t {
  kIdle,
  kBelowNormal,
  kNormal,
  kAboveNormal,
  kHigh,
  kRealtime,
  kOther,
};

// Thread priorities, with the system's own values.
inline constexpr int32_t kThreadIdle = -15;
inline constexpr int32_t kThreadLowest = -2;
inline constexpr int32_t kThreadBelowNormal = -1;
inline constexpr int32_t kThreadNormal = 0;
inline constexpr int32_t kThreadAboveNormal = 1;
inline constexpr int32_t kThreadHighest = 2;
inline constexpr int32_t kThreadTimeCritical = 15;

struct PriorityDigits {
  int32_t tens = 0;
  int32_t units = 0;  // carries the sign of the code: -41 gives tens -4, units -1
};

// units = code rem 10 (sign of the code), tens = (code - units) / 10.
[[nodiscard]] PriorityDigits SplitPriorityCode(int32_t code) noexcept;

struct PrioritySetting {
  PriorityClass priority_class = PriorityClass::kNormal;
  int32_t thread_priority = kThreadNormal;
};

// What a priority code sets on a system with the given OS version code. Digits outside the
// tables (other tens, units 7 to 9, negative digits) set normal.
[[nodiscard]] PrioritySetting PriorityFromCode(int32_t code, core::OsLevel os_level) noexcept;

// 0, 10, 20, 30, 40, 50 for the known classes, 90 for any other.
int32_t ClassReadBack(PriorityClass priority_class) noexcept;
// 0 to 6 for the known thread priorities, 9 for any other (including the system's error value).
int32_t ThreadReadBack(int32_t thread_priority) noexcept;

// What a process/thread pair reads back as: its priority class, or why that could not be read (the
// system's error code), and its thread priority (the system's error value when that could not be
// read).
struct PriorityReadBack {
  core::Result<PriorityClass> priority_class = PriorityClass::kNormal;
  int32_t thread_priority = kThreadNormal;
};

// The code a pair reads back as. When the class could not be read, the tens part is the system
// error code times 1000 (held at the largest 32-bit value rather than wrapping).
[[nodiscard]] int32_t PriorityCodeOf(const PriorityReadBack& read) noexcept;

}  // namespace x5::runner
