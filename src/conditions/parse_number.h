// The one number parser of the runner: whole numbers, and with decimals allowed the user's locale
// separators, rounding a fraction half to even.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace x5::conditions {

// What ParseNumber answers for text that is not a number (the smallest 32-bit integer). Callers
// test for it or for a negative result.
inline constexpr int32_t kInvalidNumber = std::numeric_limits<int32_t>::min();

// Decimal and thousands separators of the locale that numbers with decimals are read in.
struct NumberFormat {
  char decimal_separator = '.';
  char thousands_separator = ',';
};

// Empty text is 0. Otherwise the text is an optional leading "-" and digits; with allow_decimals
// "," and "." are accepted as well and read by `format` (thousands separators in the whole part are
// ignored, one decimal separator, the fraction rounded to the nearest integer, halves to even).
// Anything else, a lone "-", or a value outside the 32-bit range gives kInvalidNumber.
[[nodiscard]] int32_t ParseNumber(std::string_view text,
                                  bool allow_decimals,
                                  const NumberFormat& format = NumberFormat{}) noexcept;

// The separators of the current user's locale (the system's on Windows; "." and "," elsewhere).
[[nodiscard]] NumberFormat UserNumberFormat() noexcept;

}  // namespace x5::conditions
