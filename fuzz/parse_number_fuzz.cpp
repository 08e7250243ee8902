// Fuzzes the shared number parser: whole numbers must agree with a plain reference, numbers with
// decimals must stay in range and never crash, whatever the separators.
#include <cstdlib>

#include "conditions/parse_number.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

namespace {

// Whole numbers: optional "-", digits only, within 32 bits.
int32_t Reference(const std::string& text) {
  if (text.empty())
    return 0;
  const size_t digits_from = text[0] == '-' ? 1 : 0;
  if (digits_from == text.size())
    return x5::conditions::kInvalidNumber;
  long long value = 0;
  for (size_t i = digits_from; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return x5::conditions::kInvalidNumber;
    value = value * 10 + (text[i] - '0');
    if (value > (1LL << 40))
      return x5::conditions::kInvalidNumber;
  }
  if (digits_from == 1)
    value = -value;
  if (value < INT32_MIN || value > INT32_MAX)
    return x5::conditions::kInvalidNumber;
  return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t flags = data[0];
  const std::string text = x5::fuzz::Text(data, size, 1);
  Check(x5::conditions::ParseNumber(text, false) == Reference(text));
  const x5::conditions::NumberFormat format =
      (flags & 1) ? x5::conditions::NumberFormat{',', '.'} : x5::conditions::NumberFormat{};
  const int32_t with_decimals = x5::conditions::ParseNumber(text, true, format);
  // Text without separators reads the same either way.
  Check(text.find_first_of(",.") != std::string::npos || with_decimals == Reference(text));
  return 0;
}
