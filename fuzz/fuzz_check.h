// Shared by the fuzz targets: the headers every target uses, a check whose failure stops the run
// (libFuzzer keeps the input), the input as text, and a fixed cipher filler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace x5::fuzz {

inline void Check(bool ok) {
  if (!ok)
    __builtin_trap();
}

// The input's bytes from `from` on (none when it is shorter).
inline std::string Text(const uint8_t* data, size_t size, size_t from = 0) {
  return from < size ? std::string(reinterpret_cast<const char*>(data) + from, size - from) : "";
}

// A fixed filler for the ciphers, so what a target enciphers depends on its input alone.
inline bool FixedFill(std::span<uint8_t> out) noexcept {
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(i * 13 + 5);
  return true;
}

}  // namespace x5::fuzz
