// Tests of the vectorised scanner against a plain search, with and without case folding, and with
// a code page where several bytes fold to one.
#include "conditions/byte_scan.h"

#include <gtest/gtest.h>

#include <random>

namespace x5::conditions {
namespace {

int64_t PlainFind(const std::string& hay, const std::string& needle, bool last) {
  if (needle.empty() || hay.size() < needle.size())
    return -1;
  const size_t at = last ? hay.rfind(needle) : hay.find(needle);
  return at == std::string::npos ? -1 : static_cast<int64_t>(at);
}

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// A map in the spirit of a Western code page: a-z and 0xE0-0xFE fold down, 0xFF folds to 0x9F,
// and (to stress the probes) 0x01 and 0x02 fold to 'Q' too.
CaseMap OddMap() {
  CaseMap map = AsciiCaseMap();
  for (int c = 0xE0; c <= 0xFE; ++c)
    map.upper[c] = static_cast<uint8_t>(c - 0x20);
  map.upper[0xFF] = 0x9F;
  map.upper[0x01] = 'Q';
  map.upper[0x02] = 'Q';
  return map;
}

TEST(ByteScanTest, AgreesWithPlainSearch) {
  std::mt19937 rng(7);
  const CaseMap ascii = AsciiCaseMap();
  const CaseMap odd = OddMap();
  const std::string alphabets[] = {"ab", "aAbB \n", std::string("qQ\x01\x02\xff\x9f\xe0\xc0z", 9)};
  for (int round = 0; round < 20000; ++round) {
    const std::string& alphabet = alphabets[round % 3];
    const CaseMap& map = round % 3 == 2 ? odd : ascii;
    std::uniform_int_distribution<size_t> letter(0, alphabet.size() - 1);
    std::string hay(std::uniform_int_distribution<size_t>(0, 200)(rng), 'a');
    for (char& c : hay)
      c = alphabet[letter(rng)];
    std::string needle(std::uniform_int_distribution<size_t>(1, round % 7 == 0 ? 70 : 4)(rng), 'a');
    for (char& c : needle)
      c = alphabet[letter(rng)];
    const bool fold = rng() % 2 == 0;
    const Needle n(needle, fold, map);
    const std::string folded_hay = fold ? ToUpper(hay, map) : hay;
    const std::string folded_needle = fold ? ToUpper(needle, map) : needle;
    ASSERT_EQ(n.FindFirst(Bytes(hay)), PlainFind(folded_hay, folded_needle, false))
        << round << " " << hay << " / " << needle;
    ASSERT_EQ(n.FindLast(Bytes(hay)), PlainFind(folded_hay, folded_needle, true))
        << round << " " << hay << " / " << needle;
  }
  EXPECT_EQ(Needle("", false, ascii).FindFirst(Bytes("abc")), -1);
}

}  // namespace
}  // namespace x5::conditions
