// Formatting of date pictures and the English fallback for the locale-dependent parts.
#include "variables/date_picture.h"

#include <array>
#include <cstdio>

#include "core/ascii_text.h"
#include "core/calendar.h"

namespace x5::variables {
namespace {

constexpr std::array<std::string_view, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                   "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// Length of the run of `c` (either case) starting at `at`.
size_t RunLength(std::string_view text, size_t at, char c) noexcept {
  size_t n = 0;
  while (at + n < text.size() && core::LowerAscii(text[at + n]) == c)
    ++n;
  return n;
}

void AppendNumber(std::string& out, int value, int width) {
  char buffer[16];
  int n = std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  if (n > 0)
    out.append(buffer, static_cast<size_t>(n));
}

// A morning/afternoon token at `at`: its length (0 when there is none).
size_t AmPmTokenLength(std::string_view picture, size_t at) noexcept {
  if (core::StartsWithIgnoringCase(picture.substr(at), "am/pm"))
    return 5;
  if (core::StartsWithIgnoringCase(picture.substr(at), "ampm"))
    return 4;
  if (core::StartsWithIgnoringCase(picture.substr(at), "a/p"))
    return 3;
  return 0;
}

}  // namespace

std::string EnglishDateNames::DayName(const core::LocalTime& t, bool abbreviated) const {
  std::string_view name = kDays[static_cast<size_t>(core::DayOfWeek(t.year, t.month, t.day))];
  return std::string(abbreviated ? name.substr(0, 3) : name);
}

std::string EnglishDateNames::MonthName(const core::LocalTime& t, bool abbreviated) const {
  if (t.month < 1 || t.month > 12)
    return {};
  std::string_view name = kMonths[static_cast<size_t>(t.month - 1)];
  return std::string(abbreviated ? name.substr(0, 3) : name);
}

std::string EnglishDateNames::GeneralDateTime(const core::LocalTime& t) const {
  std::string out;
  AppendNumber(out, t.year, 4);
  out += '-';
  AppendNumber(out, t.month, 2);
  out += '-';
  AppendNumber(out, t.day, 2);
  out += ' ';
  AppendNumber(out, t.hour, 2);
  out += ':';
  AppendNumber(out, t.minute, 2);
  out += ':';
  AppendNumber(out, t.second, 2);
  return out;
}

std::string FormatDatePicture(std::string_view picture,
                              const core::LocalTime& t,
                              const DateNames& names) {
  if (picture.empty())
    return names.GeneralDateTime(t);

  bool twelve_hour = false;
  for (size_t i = 0; i < picture.size() && !twelve_hour; ++i)
    twelve_hour = AmPmTokenLength(picture, i) > 0;
  const bool afternoon = t.hour >= 12;
  int hour = t.hour;
  if (twelve_hour) {
    hour = t.hour % 12;
    if (hour == 0)
      hour = 12;
  }

  std::string out;
  bool after_hour = false;  // the last token was an hour: m/mm mean minutes
  size_t i = 0;
  while (i < picture.size()) {
    const char c = core::LowerAscii(picture[i]);
    const size_t run = RunLength(picture, i, c);
    bool hour_token = false;
    size_t used = 1;
    switch (c) {
      case 'y':
        if (run >= 4) {
          AppendNumber(out, t.year, 4);
          used = 4;
        } else if (run >= 2) {
          AppendNumber(out, t.year % 100, 2);
          used = 2;
        } else {
          AppendNumber(out, core::DayOfYear(t.year, t.month, t.day), 1);
        }
        break;
      case 'm':
        if (run >= 4) {
          out += names.MonthName(t, false);
          used = 4;
        } else if (run == 3) {
          out += names.MonthName(t, true);
          used = 3;
        } else {
          used = run;
          AppendNumber(out, after_hour ? t.minute : t.month, static_cast<int>(run));
        }
        break;
      case 'd':
        if (run >= 4) {
          out += names.DayName(t, false);
          used = 4;
        } else if (run == 3) {
          out += names.DayName(t, true);
          used = 3;
        } else {
          used = run;
          AppendNumber(out, t.day, static_cast<int>(run));
        }
        break;
      case 'h':
        used = run >= 2 ? 2 : 1;
        AppendNumber(out, hour, static_cast<int>(used));
        hour_token = true;
        break;
      case 'n':
        used = run >= 2 ? 2 : 1;
        AppendNumber(out, t.minute, static_cast<int>(used));
        break;
      case 's':
        used = run >= 2 ? 2 : 1;
        AppendNumber(out, t.second, static_cast<int>(used));
        break;
      case 'w':
        if (run >= 2) {
          used = 2;
          const int jan1 = core::DayOfWeek(t.year, 1, 1);
          AppendNumber(out, (core::DayOfYear(t.year, t.month, t.day) + jan1 - 1) / 7 + 1, 1);
        } else {
          AppendNumber(out, core::DayOfWeek(t.year, t.month, t.day) + 1, 1);
        }
        break;
      case 'q':
        AppendNumber(out, (t.month - 1) / 3 + 1, 1);
        break;
      case 'a': {
        const size_t length = AmPmTokenLength(picture, i);
        if (length == 0) {
          out += picture[i];  // a lone "a" is literal text
          ++i;
          continue;
        }
        const bool upper = picture[i] == 'A';
        if (length == 3) {
          out += afternoon ? (upper ? 'P' : 'p') : (upper ? 'A' : 'a');
        } else if (length == 4) {
          out += afternoon ? "PM" : "AM";
        } else {
          out += afternoon ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
        }
        used = length;
        break;
      }
      default:
        out += picture[i];
        ++i;
        continue;
    }
    after_hour = hour_token;
    i += used;
  }
  return out;
}

}  // namespace x5::variables
