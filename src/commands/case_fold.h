// Byte folding for comparisons without regard to case, in the system's ANSI code page.
#pragma once

#include <array>
#include <cstdint>

#include "core/ascii_text.h"

namespace x5::commands {

// Maps every byte to its lower-case form; bytes compare equal without regard to case when their
// mapped values are equal. The default folds the ASCII letters only.
struct CaseFold {
  std::array<uint8_t, 256> map = AsciiMap();

  uint8_t operator()(uint8_t c) const noexcept { return map[c]; }

  [[nodiscard]] static constexpr std::array<uint8_t, 256> AsciiMap() noexcept {
    std::array<uint8_t, 256> ascii{};
    for (int c = 0; c < 256; ++c) {
      ascii[c] = static_cast<uint8_t>(core::LowerAscii(static_cast<char>(c)));
    }
    return ascii;
  }
};

// The folding of the system's ANSI code page (accented letters included). Windows build only.
[[nodiscard]] CaseFold SystemCaseFold();

}  // namespace x5::commands
