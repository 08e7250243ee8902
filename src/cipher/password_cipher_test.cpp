// Hex forms, refusals and fixed vectors (which pin the key material and so every building block) of
// both ciphers; round trips of every length are the cipher fuzz target's.
#include "cipher/password_cipher.h"

#include <gtest/gtest.h>

namespace x5::cipher {
namespace {

// A fixed filler, so enciphered outputs can be compared byte for byte.
bool FixedFill(std::span<uint8_t> out) noexcept {
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(0xA5 ^ (i * 29));
  return true;
}

bool FailingFill(std::span<uint8_t>) noexcept {
  return false;
}

// Hex digits are upper case only; anything else is skipped, and an odd last digit is dropped.
TEST(CipherBlocks, HexForms) {
  EXPECT_EQ(ToHex(std::string("\x00\x0F\xFF\x41", 4)), "000FFF41");
  const std::pair<const char*, std::string> from[] = {
      {"4x1", "A"}, {"4a1", "A"}, {"41F", "A"}, {"", ""}, {"00FF", std::string("\0\xFF", 2)}};
  for (const auto& [in, want] : from)
    EXPECT_EQ(FromHex(in), want) << in;
}

TEST(Ciphers, RefuseWhatTheyCannotCarry) {
  EXPECT_EQ(EncipherField(std::string(40, 'x')), "");
  EXPECT_EQ(EncipherField("pw", &FailingFill), "");
  const std::string good = EncipherField("pw");
  EXPECT_TRUE(DecipherField(good.substr(0, 39)).Empty());
  EXPECT_TRUE(DecipherField(good + " ").Empty());
  // The filler differs each time, the password does not.
  EXPECT_NE(EncipherField("pw"), EncipherField("pw"));
  EXPECT_EQ(EncipherVariable(""), "");
  EXPECT_EQ(EncipherVariable(std::string(128, 'x')), "");
  EXPECT_EQ(EncipherVariable("abc", &FailingFill), "");
  EXPECT_EQ(EncipherVariable("abcdef", &FailingFill).size(), 14u);  // no filler needed
  const std::string hex = EncipherVariable("Secret-1");
  const std::pair<std::string, const char*> bad[] = {
      {"", "empty"},
      {hex.substr(0, 10), "shorter than six characters"},
      {hex.substr(0, hex.size() - 2), "one character short of the length mark"},
      {std::string(258, '0'), "too long"},
  };
  for (const auto& [in, why] : bad)
    EXPECT_TRUE(DecipherVariable(in).Empty()) << why;
}

// These pin the key material: if one of them changes, passwords already written into task files
// and SETP lines can no longer be deciphered.
TEST(Cipher, FixedVectorsPinTheKeys) {
  const std::string field =
      "5722A74F344DE955F22E3DCE6EA106F5424E35C11872FDF99B58259018CF416005612FED2869863D";
  EXPECT_EQ(ToHex(EncipherField("Secret-1", &FixedFill)), field);
  EXPECT_EQ(DecipherField(FromHex(field)).View(), "Secret-1");
  EXPECT_EQ(ToHex(EncipherField("", &FixedFill)),
            "5722B34F344DE955F2A53D7B6EA180F5428E35C18372FDF92158256618CF416005612FEDF469863D");
  const std::pair<const char*, const char*> variables[] = {{"Secret-1", "532EFEF5D993F7F8E8"},
                                                           {"pw", "AB09B0FCA16D"}};
  for (const auto& [plain, hex] : variables) {
    EXPECT_EQ(EncipherVariable(plain, &FixedFill), hex);
    EXPECT_EQ(DecipherVariable(hex).View(), plain);
  }
}

TEST(SecretString, WipesItsBufferAndMovesOut) {
  core::SecretString s(std::string_view("a password long enough to live on the heap"));
  const char* data = s.CStr();
  const size_t size = s.Size();
  s.Resize(4);  // what it held beyond its current length is wiped too
  s.Clear();
  EXPECT_TRUE(s.Empty());
  // The buffer is still owned by `s` (clearing keeps the capacity), so reading it is allowed.
  for (size_t i = 0; i < size; ++i)
    ASSERT_EQ(data[i], '\0') << i;

  core::SecretString a(std::string_view("short"));
  core::SecretString b(std::move(a));
  EXPECT_EQ(b.View(), "short");
  EXPECT_TRUE(a.Empty());  // NOLINT(bugprone-use-after-move): moved-from state is specified
  a = std::move(b);
  EXPECT_EQ(a.View(), "short");
}

}  // namespace
}  // namespace x5::cipher
