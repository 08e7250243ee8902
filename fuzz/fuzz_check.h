// Shared by the fuzz targets: a failed check stops the run, and libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace x5::fuzz {

inline void Check(bool ok) {
  if (!ok)
    __builtin_trap();
}

// A fixed filler for the ciphers, so what a target enciphers depends on its input alone.
inline bool FixedFill(std::span<uint8_t> out) noexcept {
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(i * 13 + 5);
  return true;
}

}  // namespace x5::fuzz
