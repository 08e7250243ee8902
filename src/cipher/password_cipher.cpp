// The field and variable password ciphers and their building blocks.
#include "cipher/password_cipher.h"

#include <array>
#include <exception>

#include "core/fault.h"

namespace x5::cipher {
namespace {

// ---------------------------------------------------------------------------------------------
// Key material. Enciphered passwords in task files and SETP lines depend on these exact values:
// they must never change, and the parent side must use the same ones (it links this file).
// ---------------------------------------------------------------------------------------------

// The field cipher's scatter order, a permutation of 0..39, kept only in this scrambled form: the
// hexadecimal digits (0-9, A-F) of the text, paired, give the codes; other characters are noise.
constexpr std::string_view kStoredPermutation =
    "h.:1yD1+0xh271517+16=0B0D1E24+18261B1C2w20k412200E0A231r902131Fn1A0pk5=2_10czmF000Cu0811030"
    "60q9gw_25grm1407z01";

// The field cipher's XOR key, used as it stands.
constexpr std::string_view kFieldKey = "B&dB+~Uc}VgI{vY";

// The variable cipher's key table. Its characters are used by their codes (not as the numbers
// they spell), and only the first 128 of them.
constexpr std::string_view kVariableKeyTable =
    "34614389A8736E3317E33AF9E2CB9DCDD6438DEE5F5111F86EABB3BFEBB7E51F6937E208ABF950D78E2085CC28"
    "335D6D29DB7D39C6219DB41C66DE0186E15F2A1DC43D0FD211AE77E408CDEBCBBF2D32D36A4B8ECD2A936D4B5D"
    "AF3C6A121985717634AE03BCE37DCBBE1ACDF88216E4A1127A4EE7446D84B0AC2597349A3245";
constexpr size_t kVariableKeyUsed = 128;

constexpr int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Compile-time check that the stored form really holds a permutation of 0..39.
constexpr bool StoredPermutationIsValid() {
  std::array<bool, kFieldLength> seen{};
  size_t count = 0;
  int high = -1;
  for (char c : kStoredPermutation) {
    int v = HexValue(c);
    if (v < 0)
      continue;
    if (high < 0) {
      high = v;
      continue;
    }
    int code = high * 16 + v;
    high = -1;
    if (code >= static_cast<int>(kFieldLength) || seen[static_cast<size_t>(code)])
      return false;
    seen[static_cast<size_t>(code)] = true;
    ++count;
  }
  return count == kFieldLength && high < 0;
}
static_assert(kStoredPermutation.size() == 110);
static_assert(StoredPermutationIsValid());
static_assert(kFieldKey.size() == 15);
static_assert(kVariableKeyTable.size() == 256);
static_assert(kFieldLengthFactor * kFieldPlainMax <= 255);

constexpr bool VariableKeyTableIsHex() {
  for (char c : kVariableKeyTable)
    if (HexValue(c) < 0)
      return false;
  return true;
}
static_assert(VariableKeyTableIsHex());

uint8_t Code(char c) noexcept {
  return static_cast<uint8_t>(c);
}
char Char(uint8_t code) noexcept {
  return static_cast<char>(code);
}

// XOR in place with the key schedule of XorWithKey; the caller has checked the lengths.
void XorInPlace(std::span<char> text, std::string_view key) noexcept {
  const size_t k = key.size();
  for (size_t i = 0; i < text.size(); ++i) {
    // 1-based: position p uses key character p while p <= k, else (p mod k) + 1.
    size_t p = i + 1;
    size_t key_index = p <= k ? p - 1 : p % k;
    text[i] = Char(Code(text[i]) ^ Code(key[key_index]));
  }
}

template <typename Out>
void AppendFromHex(std::string_view text, Out& out) {
  int high = -1;
  for (char c : text) {
    int v = HexValue(c);
    if (v < 0)
      continue;
    if (high < 0) {
      high = v;
    } else {
      out.Append(Char(static_cast<uint8_t>(high * 16 + v)));
      high = -1;
    }
  }
}

// Lets AppendFromHex fill a std::string as well as a SecretString.
struct StringAppender {
  std::string& s;
  void Append(char c) { s.push_back(c); }
};

std::string_view VariableKey(size_t length) noexcept {
  return kVariableKeyTable.substr(kVariableKeyUsed - length, length);
}

// Positions and pairs of the four swaps between the variable block and its mark.
constexpr std::array<std::array<int, 2>, 4> kSwaps = {{{4, 1}, {5, 2}, {3, 3}, {2, 4}}};

void ApplySwaps(std::span<char> block, char& mark) noexcept {
  for (const auto& [position, pair] : kSwaps)
    SwapBitPair(block, mark, static_cast<size_t>(position), pair);
}

}  // namespace

char RotateLeft(std::string_view text, size_t position) noexcept {
  if (position < 1 || position > text.size())
    return '\0';
  return Char(RotateLeftCode(Code(text[position - 1])));
}

char RotateRight(std::string_view text, size_t position) noexcept {
  if (position < 1 || position > text.size())
    return '\0';
  return Char(RotateRightCode(Code(text[position - 1])));
}

std::string XorWithKey(std::string_view text, std::string_view key) {
  if (text.size() < key.size() || key.empty())
    return {};
  std::string out(text);
  XorInPlace(out, key);
  return out;
}

std::string RandomText(size_t count, RandomFill fill) {
  std::string out(count, '\0');
  if (count == 0)
    return out;
  if (fill == nullptr ||
      !fill(std::span<uint8_t>(reinterpret_cast<uint8_t*>(out.data()), out.size())))
    return {};
  return out;
}

std::string ToHex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    out.push_back(kDigits[Code(c) >> 4]);
    out.push_back(kDigits[Code(c) & 0x0F]);
  }
  return out;
}

std::string FromHex(std::string_view text) {
  std::string out;
  StringAppender appender{out};
  AppendFromHex(text, appender);
  return out;
}

uint8_t SwapBitPair(std::span<char> text, char& mark, size_t position, int pair) noexcept {
  static constexpr uint8_t kMasks[] = {0x03, 0x0C, 0x30, 0xC0};
  if (position < 1 || position > text.size() || pair < 1 || pair > 4)
    return Code(mark);
  const uint8_t mask = kMasks[pair - 1];
  const uint8_t c = Code(text[position - 1]);
  const uint8_t m = Code(mark);
  text[position - 1] = Char(static_cast<uint8_t>((c & ~mask) | (m & mask)));
  mark = Char(static_cast<uint8_t>((m & ~mask) | (c & mask)));
  return Code(mark);
}

std::string EncipherField(std::string_view plain, RandomFill fill) {
  try {
    const size_t n = plain.size();
    if (n > kFieldPlainMax)
      return {};
    std::string filler = RandomText(kFieldLength, fill);
    if (filler.size() != kFieldLength)
      return {};
    core::SecretString block(filler);
    block[kFieldLength - 1] = Char(static_cast<uint8_t>(kFieldLengthFactor * n));
    // The password ends right before the length mark.
    for (size_t i = 0; i < n; ++i)
      block[kFieldLength - 1 - n + i] = plain[i];
    XorInPlace(block.Span(), kFieldKey);

    const std::string permutation = FromHex(kStoredPermutation);
    std::string out;
    out.reserve(kFieldLength);
    for (size_t i = 1; i <= kFieldLength; ++i) {
      uint8_t c = Code(block[Code(permutation[i - 1])]);
      out.push_back(Char(i % 2 == 1 ? RotateRightCode(c) : RotateLeftCode(c)));
    }
    return out;
  } catch (const std::exception&) {
    core::UnexpectedFault("EncipherField");
    return {};
  }
}

core::SecretString DecipherField(std::string_view cipher) {
  try {
    if (cipher.size() != kFieldLength)
      return {};
    const std::string permutation = FromHex(kStoredPermutation);
    core::SecretString block(std::string_view("                                        "));
    for (size_t i = 1; i <= kFieldLength; ++i) {
      uint8_t c = Code(cipher[i - 1]);
      block[Code(permutation[i - 1])] = Char(i % 2 == 1 ? RotateLeftCode(c) : RotateRightCode(c));
    }
    XorInPlace(block.Span(), kFieldKey);
    const size_t n = (Code(block[kFieldLength - 1]) + kFieldLengthFactor / 2) / kFieldLengthFactor;
    if (n > kFieldPlainMax)
      return {};
    return core::SecretString(block.View().substr(kFieldLength - 1 - n, n));
  } catch (const std::exception&) {
    core::UnexpectedFault("DecipherField");
    return {};
  }
}

std::string EncipherVariable(std::string_view plain, RandomFill fill) {
  try {
    const size_t n = plain.size();
    if (n == 0 || n > kVariablePlainMax)
      return {};
    core::SecretString reversed;
    reversed.Reserve(n);
    for (size_t i = n; i >= 1; --i) {
      uint8_t c = Code(plain[i - 1]);
      reversed.Append(Char(i % 2 == 1 ? RotateRightCode(c) : RotateLeftCode(c)));
    }
    core::SecretString block;
    block.Reserve(n + 6);
    if (n < 6) {
      std::string filler = RandomText(5 - n, fill);
      if (filler.size() != 5 - n)
        return {};
      block.Append(reversed.View());
      block.Append(filler);
      block.Append(' ');
    } else {
      block.Append(reversed.View().substr(0, 5));
      block.Append(' ');
      block.Append(reversed.View().substr(5));
    }
    char mark = Char(static_cast<uint8_t>(n));
    ApplySwaps(block.Span(), mark);
    block[5] = mark;
    XorInPlace(block.Span(), VariableKey(block.Size()));
    return ToHex(block.View());
  } catch (const std::exception&) {
    core::UnexpectedFault("EncipherVariable");
    return {};
  }
}

core::SecretString DecipherVariable(std::string_view hex_text) {
  try {
    if (hex_text.empty() || hex_text.size() > kVariableHexMax)
      return {};
    core::SecretString block;
    block.Reserve(hex_text.size() / 2);
    AppendFromHex(hex_text, block);
    if (block.Size() < 6)
      return {};
    XorInPlace(block.Span(), VariableKey(block.Size()));
    char mark = block[5];
    ApplySwaps(block.Span(), mark);
    const size_t n = Code(mark);
    if (n == 0 || n > kVariablePlainMax)
      return {};
    // Above 5 characters the mark sits inside the body and is left out; otherwise the body is the
    // start of the block.
    const size_t needed = n > 5 ? n + 1 : n;
    if (block.Size() < needed)
      return {};
    auto body = [&](size_t i) { return Code(block[n > 5 && i > 5 ? i : i - 1]); };
    core::SecretString out;
    out.Reserve(n);
    for (size_t i = n; i >= 1; --i) {
      uint8_t c = body(i);
      out.Append(Char(i % 2 == n % 2 ? RotateLeftCode(c) : RotateRightCode(c)));
    }
    return out;
  } catch (const std::exception&) {
    core::UnexpectedFault("DecipherVariable");
    return {};
  }
}

}  // namespace x5::cipher
