// The two reversible password ciphers: the 40-character task-record field form and the
// hexadecimal form of password variables, with the building blocks they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cipher/random_source.h"
#include "core/secret_string.h"

namespace x5::cipher {

inline constexpr size_t kFieldLength = 40;        // width of the task record's password field
inline constexpr int kFieldLengthFactor = 5;      // the length mark is the plain length times this
inline constexpr size_t kFieldPlainMax = 39;      // longest password the field form carries
inline constexpr size_t kVariablePlainMax = 127;  // longest password the variable form carries
inline constexpr size_t kVariableHexMax = 256;    // longest hexadecimal text that is deciphered

// One-bit rotations of an 8-bit code (0 and 255 are fixed points).
[[nodiscard]] constexpr uint8_t RotateLeftCode(uint8_t code) noexcept {
  return static_cast<uint8_t>((code << 1) | (code >> 7));
}
[[nodiscard]] constexpr uint8_t RotateRightCode(uint8_t code) noexcept {
  return static_cast<uint8_t>((code >> 1) | (code << 7));
}
// The character at the 1-based position, rotated; '\0' when the position is outside the text.
[[nodiscard]] char RotateLeft(std::string_view text, size_t position) noexcept;
[[nodiscard]] char RotateRight(std::string_view text, size_t position) noexcept;

// XOR with a key that repeats from its second character after the first pass. Empty when the
// text is shorter than the key.
std::string XorWithKey(std::string_view text, std::string_view key);

// `count` filler characters from the random source; empty when the source failed.
std::string RandomText(size_t count, RandomFill fill = &FillRandom);

// Two upper-case hexadecimal digits per character.
std::string ToHex(std::string_view text);
// Pairs the digits 0-9 and A-F of the text (upper case only); every other character is skipped.
[[nodiscard]] std::string FromHex(std::string_view text);

// Exchanges the bits of pair 1-4 (masks 0x03, 0x0C, 0x30, 0xC0) between the character at the
// 1-based position and the mark. Returns the new mark code. Applying it twice restores both.
uint8_t SwapBitPair(std::span<char> text, char& mark, size_t position, int pair) noexcept;

// The field form: always 40 raw characters; empty for a plain text over 39 characters or when
// the random source failed. The default source is the system's; tests may pass a fixed one.
[[nodiscard]] std::string EncipherField(std::string_view plain, RandomFill fill = &FillRandom);
// Empty for anything that is not a well-formed 40-character field.
[[nodiscard]] core::SecretString DecipherField(std::string_view cipher);

// The variable form as upper-case hexadecimal text (12 digits, or 2 x (length + 1)); empty for
// an empty or over-long plain text, or when the random source failed.
[[nodiscard]] std::string EncipherVariable(std::string_view plain, RandomFill fill = &FillRandom);
// Empty for anything malformed.
[[nodiscard]] core::SecretString DecipherVariable(std::string_view hex_text);

}  // namespace x5::cipher
