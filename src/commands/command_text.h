// Small text helpers shared by the command switches: blank trimming and ASCII upper-casing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace x5::commands {

// Blanks only: tabs and other control characters are part of the text, as in the job's own texts.
inline std::string_view TrimLeft(std::string_view text) noexcept {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

inline std::string_view TrimRight(std::string_view text) noexcept {
  const size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

inline std::string_view Trim(std::string_view text) noexcept {
  return TrimRight(TrimLeft(text));
}

[[nodiscard]] inline char UpperAscii(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    c = UpperAscii(c);
  }
  return upper;
}

}  // namespace x5::commands
