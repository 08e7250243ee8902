// Locale facts from Windows: the ANSI code page's upper-case mapping and the user's number
// separators.
#include <windows.h>

#include "conditions/case_map.h"
#include "conditions/parse_number.h"

namespace x5::conditions {

CaseMap SystemCaseMap() noexcept {
  CaseMap map = AsciiCaseMap();
  char bytes[256];
  for (int c = 0; c < 256; ++c)
    bytes[c] = static_cast<char>(c);
  // Byte 0 would end the string for CharUpperBuffA's callers; the count makes it safe here, and a
  // zero byte maps to itself anyway.
  if (CharUpperBuffA(bytes, 256) == 256) {
    for (int c = 0; c < 256; ++c)
      map.upper[c] = static_cast<uint8_t>(bytes[c]);
  }
  return map;
}

NumberFormat UserNumberFormat() noexcept {
  NumberFormat format;
  char text[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) >= 2)
    format.decimal_separator = text[0];
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, text, sizeof text) >= 2)
    format.thousands_separator = text[0];
  return format;
}

}  // namespace x5::conditions
