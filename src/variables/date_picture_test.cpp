// Date pictures: every token, minutes after hours and the 12-hour clock.
#include "variables/date_picture.h"

#include <gtest/gtest.h>

namespace x5::variables {
namespace {

TEST(DatePicture, Tokens) {
  const EnglishDateNames names;
  const core::LocalTime afternoon{2024, 3, 5, 2, 14, 7, 9, 0};  // Tuesday
  const core::LocalTime midnight{2023, 12, 31, 0, 0, 5, 0, 0};  // Sunday
  struct Case {
    const core::LocalTime& t;
    std::string_view picture;
    std::string_view want;
  };
  const Case cases[] = {
      {afternoon, "yyyy-mm-dd", "2024-03-05"},
      {afternoon, "YYYYMMDD", "20240305"},
      {afternoon, "m/d/yy", "3/5/24"},
      {afternoon, "hh:mm:ss", "14:07:09"},  // mm after an hour is minutes
      {afternoon, "hh dd mm", "14 05 03"},  // ...but not after another token
      {afternoon, "h:n:s", "14:7:9"},
      {afternoon, "hh:nn AM/PM", "02:07 PM"},
      {afternoon, "h am/pm", "2 pm"},
      {afternoon, "hAMPM", "2PM"},
      {afternoon, "dddd ddd, mmmm mmm d", "Tuesday Tue, March Mar 5"},
      {afternoon, "q y w ww a", "1 65 3 10 a"},  // quarter, day of year, weekday, week
      {afternoon, "", "2024-03-05 14:07:09"},
      {midnight, "hh:nn A/P", "12:05 A"},
      {midnight, "hh:nn", "00:05"},
      {midnight, "ww w y", "53 1 365"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatDatePicture(c.picture, c.t, names), c.want) << c.picture;
}

}  // namespace
}  // namespace x5::variables
