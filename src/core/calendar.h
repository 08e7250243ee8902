// The proleptic Gregorian calendar: leap years, days of the week and of the year, and a FILETIME
// count broken down into calendar fields.
#pragma once

#include <cstdint>

#include "core/interfaces.h"

namespace x5::core {

[[nodiscard]] bool IsLeapYear(int year) noexcept;
// 28 to 31; 0 for a month outside 1..12.
[[nodiscard]] int DaysInMonth(int year, int month) noexcept;
// 0 = Sunday, computed from the date itself.
[[nodiscard]] int DayOfWeek(int year, int month, int day) noexcept;
// 1 for 1 January.
[[nodiscard]] int DayOfYear(int year, int month, int day) noexcept;

// Calendar fields of a FILETIME value (100 ns units since 1601-01-01); negative counts as 0.
[[nodiscard]] LocalTime CalendarFromFileTime(int64_t file_time) noexcept;

}  // namespace x5::core
