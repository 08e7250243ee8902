// Date pictures: formatting the local time by a picture such as "yyyymmdd" or "hh:nn:ss".
#pragma once

#include <string>
#include <string_view>

#include "core/interfaces.h"

namespace x5::variables {

// The locale-dependent parts of a date picture.
class DateNames {
 public:
  virtual ~DateNames() = default;
  virtual std::string DayName(const core::LocalTime& t, bool abbreviated) const = 0;
  virtual std::string MonthName(const core::LocalTime& t, bool abbreviated) const = 0;
  // The locale's general date-and-time form (short date, then time).
  virtual std::string GeneralDateTime(const core::LocalTime& t) const = 0;
};

// English names and "yyyy-mm-dd hh:nn:ss", for tests, tools and when no locale is at hand.
class EnglishDateNames final : public DateNames {
 public:
  std::string DayName(const core::LocalTime& t, bool abbreviated) const override;
  std::string MonthName(const core::LocalTime& t, bool abbreviated) const override;
  std::string GeneralDateTime(const core::LocalTime& t) const override;
};

// Formats `picture` (the text between the two "#") for `t`. Tokens, in either case:
//   yyyy yy      year (four, two digits)        y     day of the year
//   mmmm mmm     month name (full, short)       mm m  month (with, without leading zero);
//                                                     minutes when the last token was an hour
//   dddd ddd     day name (full, short)         dd d  day of the month
//   hh h         hour (0-23, or 1-12 with an AM/PM token)
//   nn n         minute                         ss s  second
//   ww           week of the year (weeks start on Sunday, week 1 holds 1 January)
//   w            day of the week (1 = Sunday)   q     quarter
//   AM/PM am/pm A/P a/p AMPM   morning/afternoon marker, in the case written
// Every other character is copied. An empty picture gives the general date-and-time form.
std::string FormatDatePicture(std::string_view picture,
                              const core::LocalTime& t,
                              const DateNames& names);

}  // namespace x5::variables
