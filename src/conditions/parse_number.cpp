// The shared number parser: whole numbers and locale-formatted numbers with decimals.
#include "conditions/parse_number.h"
#include "core/ascii_text.h"

namespace x5::conditions {
namespace {

constexpr int64_t kMagnitudeCap = int64_t{1} << 40;  // far beyond 32 bits, far below overflow

}  // namespace

int32_t ParseNumber(std::string_view text,
                    bool allow_decimals,
                    const NumberFormat& format) noexcept {
  if (text.empty())
    return 0;
  const bool negative = text.front() == '-';
  std::string_view body = negative ? text.substr(1) : text;
  for (char c : body) {
    if (!core::IsAsciiDigit(c) && !(allow_decimals && (c == ',' || c == '.')))
      return kInvalidNumber;
  }

  int64_t whole = 0;
  bool any_digit = false;
  bool in_fraction = false;
  // Rounding needs only the first fraction digit and whether anything non-zero follows it.
  int first_fraction_digit = -1;
  bool fraction_tail_nonzero = false;
  for (char c : body) {
    if (core::IsAsciiDigit(c)) {
      any_digit = true;
      const int digit = c - '0';
      if (!in_fraction) {
        whole = whole * 10 + digit;
        if (whole > kMagnitudeCap)
          whole = kMagnitudeCap;
      } else if (first_fraction_digit < 0) {
        first_fraction_digit = digit;
      } else if (digit != 0) {
        fraction_tail_nonzero = true;
      }
    } else if (c == format.decimal_separator) {
      if (in_fraction)
        return kInvalidNumber;
      in_fraction = true;
    } else if (c == format.thousands_separator && !in_fraction) {
      continue;
    } else {
      return kInvalidNumber;  // a separator this locale does not use here
    }
  }
  if (!any_digit)
    return kInvalidNumber;

  if (first_fraction_digit > 5 || (first_fraction_digit == 5 && fraction_tail_nonzero) ||
      (first_fraction_digit == 5 && !fraction_tail_nonzero && (whole % 2) == 1)) {
    ++whole;
  }
  const int64_t value = negative ? -whole : whole;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    return kInvalidNumber;
  return static_cast<int32_t>(value);
}

}  // namespace x5::conditions
