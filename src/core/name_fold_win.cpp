// The system's name folding: each byte of the ANSI code page put in the class of its upper case,
// as the system compares environment names.
#include "core/name_fold.h"

#include <windows.h>

namespace x5::core {

NameFold SystemNameFold() noexcept {
  NameFold fold;
  // The first byte met with an upper case stands for all bytes with the same one, so that two
  // bytes fold alike exactly when the system takes them for the same letter, even where that
  // upper case is not a byte of the code page.
  std::array<int, 65536> first{};
  first.fill(-1);
  for (int c = 0; c < 256; ++c) {
    fold.upper[c] = static_cast<uint8_t>(c);
    const char byte = static_cast<char>(c);
    wchar_t unit = 0;
    if (c == 0 || IsDBCSLeadByte(static_cast<BYTE>(c)) ||
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &unit, 1) != 1)
      continue;
    // CharUpperBuffW upper-cases without regard to the locale's special rules, as the system's
    // name comparison does.
    wchar_t upper = unit;
    if (CharUpperBuffW(&upper, 1) != 1)
      upper = unit;
    int& owner = first[static_cast<uint16_t>(upper)];
    if (owner < 0)
      owner = c;
    fold.upper[c] = static_cast<uint8_t>(owner);
  }
  return fold;
}

}  // namespace x5::core
