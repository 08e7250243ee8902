// The operating system's cryptographic random source (one implementation per platform).
#pragma once

#include <cstdint>
#include <span>

namespace x5::cipher {

// Fills `out` completely; false when the platform source failed (then `out` must not be used).
[[nodiscard]] bool FillRandom(std::span<uint8_t> out) noexcept;

// The shape of FillRandom, so the enciphering routines can take a fixed source in tests.
using RandomFill = bool (*)(std::span<uint8_t> out) noexcept;

}  // namespace x5::cipher
