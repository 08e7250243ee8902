// Upper-case mapping of 8-bit ANSI characters, used for case-insensitive rules and searches.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace x5::conditions {

// upper[c] is the upper-case form of byte c in the system's ANSI code page.
struct CaseMap {
  std::array<uint8_t, 256> upper{};
};

// a-z to A-Z, every other byte unchanged.
[[nodiscard]] CaseMap AsciiCaseMap() noexcept;

// The system code page's mapping (Windows); the ASCII mapping elsewhere.
[[nodiscard]] CaseMap SystemCaseMap() noexcept;

std::string ToUpper(std::string_view text, const CaseMap& map);

}  // namespace x5::conditions
