// The proleptic Gregorian calendar: leap years, days of the week and of the year, and a FILETIME
// count broken down into calendar fields.
#include "core/calendar.h"

namespace x5::core {
namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerSecond = 1000 * kTicksPerMillisecond;
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134'774;

// Calendar conversion around 1970-01-01 (day 0).
void CivilFromDays(int64_t z, int& year, int& month, int& day) noexcept {
  z += 719'468;
  const int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const int64_t doe = z - era * 146'097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

bool IsLeapYear(int year) noexcept {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12)
    return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

int DayOfWeek(int year, int month, int day) noexcept {
  static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 1 || month > 12)
    return 0;
  if (month < 3)
    year -= 1;
  int dow = (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
  return dow < 0 ? dow + 7 : dow;
}

int DayOfYear(int year, int month, int day) noexcept {
  static constexpr int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  if (month < 1 || month > 12)
    return day;
  return kBefore[month - 1] + day + (month > 2 && IsLeapYear(year) ? 1 : 0);
}

LocalTime CalendarFromFileTime(int64_t file_time) noexcept {
  if (file_time < 0)
    file_time = 0;
  const int64_t days = file_time / kTicksPerDay;
  int64_t rest = file_time % kTicksPerDay;
  LocalTime t;
  CivilFromDays(days - kDaysFrom1601To1970, t.year, t.month, t.day);
  t.day_of_week = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
  t.hour = static_cast<int>(rest / (3600 * kTicksPerSecond));
  rest %= 3600 * kTicksPerSecond;
  t.minute = static_cast<int>(rest / (60 * kTicksPerSecond));
  rest %= 60 * kTicksPerSecond;
  t.second = static_cast<int>(rest / kTicksPerSecond);
  rest %= kTicksPerSecond;
  t.millisecond = static_cast<int>(rest / kTicksPerMillisecond);
  return t;
}

}  // namespace x5::core
