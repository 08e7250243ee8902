// Variable names compared as the system compares environment names: without regard to case for
// every letter of the ANSI code page, not only A-Z.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace x5::core {

// upper[c] is the byte that stands for c's whole case class: two names are the same name when
// their bytes map alike. The default is Windows-1252, the ANSI code page of western systems; the
// runner builds the system's own (SystemNameFold).
struct NameFold {
  std::array<uint8_t, 256> upper = Windows1252();

  bool Equal(std::string_view a, std::string_view b) const noexcept {
    if (a.size() != b.size())
      return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (upper[static_cast<uint8_t>(a[i])] != upper[static_cast<uint8_t>(b[i])])
        return false;
    return true;
  }
  std::string Folded(std::string_view name) const {
    std::string out(name);
    for (char& c : out)
      c = static_cast<char>(upper[static_cast<uint8_t>(c)]);
    return out;
  }

  // Letters a-z, the accented letters (except the division sign and the German sharp s, which has
  // no single upper case), and the four the code page keeps elsewhere: s/z with caron, oe, y with
  // diaeresis.
  [[nodiscard]] static constexpr std::array<uint8_t, 256> Windows1252() noexcept {
    std::array<uint8_t, 256> map{};
    for (int c = 0; c < 256; ++c)
      map[c] = static_cast<uint8_t>(c);
    for (int c = 'a'; c <= 'z'; ++c)
      map[c] = static_cast<uint8_t>(c - 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF7)
        map[c] = static_cast<uint8_t>(c - 0x20);
    map[0x9A] = 0x8A;
    map[0x9C] = 0x8C;
    map[0x9E] = 0x8E;
    map[0xFF] = 0x9F;
    return map;
  }
};

inline constexpr NameFold kWesternNameFold{};

// Why `name` cannot name a variable, empty when it can: the environment would cut it at a NUL,
// or read another name in it at an "=" (it stores NAME=value), and a control byte is no part of
// a name anyone wrote.
[[nodiscard]] constexpr std::string_view VariableNameProblem(std::string_view name) noexcept {
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0)
      return "the name holds a NUL byte";
    if (u < 32 || u == 127)
      return "the name holds a control character";
  }
  if (name.find('=') != std::string_view::npos)
    return "the name holds \"=\"";
  return {};
}

// The system's ANSI code page, each byte's class as the system upper-cases it for environment
// names. Windows build only.
[[nodiscard]] NameFold SystemNameFold() noexcept;

}  // namespace x5::core
