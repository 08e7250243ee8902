// Text helpers that know ASCII only: the case of the letters a-z and A-Z (every other byte stays as
// it is, whatever the code page), comparisons without regard to that case, and blank trimming.
#pragma once

#include <string>
#include <string_view>

namespace x5::core {

[[nodiscard]] constexpr bool IsAsciiDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

[[nodiscard]] constexpr char UpperAscii(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

[[nodiscard]] constexpr char LowerAscii(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] inline std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = UpperAscii(c);
  return upper;
}

[[nodiscard]] constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i]))
      return false;
  }
  return true;
}

[[nodiscard]] constexpr bool StartsWithIgnoringCase(std::string_view text,
                                                    std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

[[nodiscard]] constexpr bool EndsWithIgnoringCase(std::string_view text,
                                                  std::string_view suffix) noexcept {
  return text.size() >= suffix.size() &&
         EqualIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

// Where `word` first stands in `text`, letters compared without regard to case; npos for none.
[[nodiscard]] constexpr size_t FindIgnoringCase(std::string_view text,
                                                std::string_view word) noexcept {
  for (size_t i = 0; i + word.size() <= text.size(); ++i) {
    if (EqualIgnoringCase(text.substr(i, word.size()), word))
      return i;
  }
  return std::string_view::npos;
}

// Blanks only: tabs and other control characters are part of the text, as in the job's own texts.
[[nodiscard]] constexpr std::string_view TrimLeft(std::string_view text) noexcept {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

[[nodiscard]] constexpr std::string_view TrimRight(std::string_view text) noexcept {
  const size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

[[nodiscard]] constexpr std::string_view Trim(std::string_view text) noexcept {
  return TrimRight(TrimLeft(text));
}

}  // namespace x5::core
