// ASCII case mapping and text upper-casing through a case map.
#include "conditions/case_map.h"

#include "core/ascii_text.h"

namespace x5::conditions {

CaseMap AsciiCaseMap() noexcept {
  CaseMap map;
  for (int c = 0; c < 256; ++c)
    map.upper[c] = static_cast<uint8_t>(core::UpperAscii(static_cast<char>(c)));
  return map;
}

std::string ToUpper(std::string_view text, const CaseMap& map) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(map.upper[static_cast<uint8_t>(c)]);
  return out;
}

}  // namespace x5::conditions
