// Locale facts for the native build: ASCII case mapping and "." / "," number separators.
#include "conditions/case_map.h"
#include "conditions/parse_number.h"

namespace x5::conditions {

CaseMap SystemCaseMap() noexcept {
  return AsciiCaseMap();
}

NumberFormat UserNumberFormat() noexcept {
  return NumberFormat{};
}

}  // namespace x5::conditions
