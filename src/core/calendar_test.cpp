// Calendar arithmetic: leap years, days of the week and year, FILETIME counts as calendar fields.
#include "core/calendar.h"

#include <gtest/gtest.h>

#include <tuple>

namespace x5::core {
namespace {

TEST(Calendar, Arithmetic) {
  struct Case {
    int y, m, d, dow, doy, days_in_month;
  };
  const Case cases[] = {{2000, 1, 1, 6, 1, 31},     {2024, 2, 29, 4, 60, 29},
                        {1970, 1, 1, 4, 1, 31},     {2023, 12, 31, 0, 365, 31},
                        {2024, 12, 31, 2, 366, 31}, {2100, 3, 1, 1, 60, 31},
                        {2100, 2, 1, 1, 32, 28},    {2024, 13, 1, 0, 1, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(std::tuple(DayOfWeek(c.y, c.m, c.d), DayOfYear(c.y, c.m, c.d), DaysInMonth(c.y, c.m)),
              std::tuple(c.dow, c.doy, c.days_in_month))
        << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(Calendar, FileTimeFields) {
  auto fields = [](const LocalTime& t) {
    return std::tuple(t.year, t.month, t.day, t.day_of_week, t.hour, t.minute, t.second,
                      t.millisecond);
  };
  // 2024-02-29 13:45:30.123, a Thursday.
  EXPECT_EQ(fields(CalendarFromFileTime(133'536'879'301'230'000)),
            std::tuple(2024, 2, 29, 4, 13, 45, 30, 123));
  EXPECT_EQ(fields(CalendarFromFileTime(-5)), std::tuple(1601, 1, 1, 1, 0, 0, 0, 0));
  EXPECT_EQ(fields(CalendarFromFileTime(2'650'467'743'999'990'000)),
            std::tuple(9999, 12, 31, 5, 23, 59, 59, 999));
}

}  // namespace
}  // namespace x5::core
