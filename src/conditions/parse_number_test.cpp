// Tests of the shared number parser: whole numbers at the ends of their range, the invalid marker,
// locale separators and rounding halves to even. (Arbitrary bytes reach it through the rule and
// value-check fuzz target.)
#include "conditions/parse_number.h"

#include <gtest/gtest.h>

namespace x5::conditions {
namespace {

TEST(ParseNumberTest, Table) {
  const std::pair<const char*, int32_t> whole[] = {
      {"", 0},
      {"-0", 0},
      {"2147483647", 2147483647},
      {"-2147483647", -2147483647},
  };
  for (const auto& [text, want] : whole)
    EXPECT_EQ(ParseNumber(text, false), want) << '"' << text << '"';
  // With decimals: "." decimal, "," thousands; halves round to even.
  const std::pair<const char*, int32_t> decimals[] = {
      {"2.5", 2}, {"3.5", 4}, {"2.51", 3},       {"-3.5", -4},
      {".5", 0},  {"5.", 5},  {"1,234.6", 1235}, {"2147483647.4", 2147483647}};
  for (const auto& [text, want] : decimals)
    EXPECT_EQ(ParseNumber(text, true), want) << text;
  for (const char* text : {"-", "12a", " 1", "1-", "+1", "1.5", "2147483648", "-2147483649",
                           "99999999999999999999999"})
    EXPECT_EQ(ParseNumber(text, false), kInvalidNumber) << '"' << text << '"';
  for (const char* text : {"1.2.3", "1.2,3", ".", "2147483647.5"})
    EXPECT_EQ(ParseNumber(text, true), kInvalidNumber) << text;
}

TEST(ParseNumberTest, FollowsTheLocaleSeparators) {
  const NumberFormat german{',', '.'};
  EXPECT_EQ(ParseNumber("1,5", true, german), 2);
  EXPECT_EQ(ParseNumber("1.234,5", true, german), 1234);
  EXPECT_EQ(ParseNumber("1,2,3", true, german), kInvalidNumber);
  const NumberFormat french{',', '\xa0'};
  EXPECT_EQ(ParseNumber("1.5", true, french), kInvalidNumber);
  EXPECT_EQ(ParseNumber("7,5", true, french), 8);
  // Without decimals the locale plays no part.
  EXPECT_EQ(ParseNumber("1,5", false, german), kInvalidNumber);
}

}  // namespace
}  // namespace x5::conditions
