// Tests of the shared number parser: whole numbers, the invalid marker, locale separators and
// rounding halves to even.
#include "conditions/parse_number.h"

#include <gtest/gtest.h>

namespace x5 {
namespace {

struct NumberCase {
  const char* text;
  bool decimals;
  int32_t expected;
};

TEST(ParseNumberTest, Table) {
  const NumberCase cases[] = {
      {"", false, 0},
      {"007", false, 7},
      {"0", false, 0},
      {"-0", false, 0},
      {"-12", false, -12},
      {"2147483647", false, 2147483647},
      {"-2147483647", false, -2147483647},
      {"2147483648", false, kInvalidNumber},
      {"99999999999999999999999", false, kInvalidNumber},
      {"-", false, kInvalidNumber},
      {"12a", false, kInvalidNumber},
      {" 1", false, kInvalidNumber},
      {"1 ", false, kInvalidNumber},
      {"--1", false, kInvalidNumber},
      {"1-", false, kInvalidNumber},
      {"5-3", false, kInvalidNumber},
      {"+1", false, kInvalidNumber},
      {"1.5", false, kInvalidNumber},
      {"1,5", false, kInvalidNumber},
      // With decimals: "." decimal, "," thousands.
      {"1.5", true, 2},
      {"2.5", true, 2},
      {"3.5", true, 4},
      {"2.51", true, 3},
      {"2.4999", true, 2},
      {"-2.5", true, -2},
      {"-3.5", true, -4},
      {".5", true, 0},
      {"5.", true, 5},
      {"1,234", true, 1234},
      {"1,234.6", true, 1235},
      {"1.2.3", true, kInvalidNumber},
      {"1.2,3", true, kInvalidNumber},
      {".", true, kInvalidNumber},
      {",", true, kInvalidNumber},
      {"-", true, kInvalidNumber},
      {"2147483647.4", true, 2147483647},
      {"2147483647.5", true, kInvalidNumber},
      {"1e5", true, kInvalidNumber},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(ParseNumber(c.text, c.decimals), c.expected) << '"' << c.text << '"';
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
}  // namespace x5
