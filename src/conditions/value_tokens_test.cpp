// The value tokenizer: kinds, quotation marks and the error of each kind of fault.
#include "conditions/value_tokens.h"

#include <gtest/gtest.h>

namespace x5::conditions {
namespace {

std::string Slot(TokenKind kind, std::string_view value) {
  return std::string(1, static_cast<char>(kind)) + std::string(value);
}

constexpr TokenKind N = TokenKind::kNumber;
constexpr TokenKind T = TokenKind::kText;
constexpr TokenKind O = TokenKind::kOperator;
constexpr TokenKind C = TokenKind::kComma;

struct TokenCase {
  std::string value;
  int32_t result;
  std::string error;
  std::vector<std::pair<TokenKind, std::string>> tokens;
};

TEST(TokenizeValueTest, Table) {
  const TokenCase cases[] = {
      {"ERR42", 1, "", {{T, "ERR42"}}},
      {"42ERR", 2, "", {{N, "42"}, {T, "ERR"}}},
      {"\"42ERR\"", 1, "", {{T, "42ERR"}}},
      {"(W, A.TX >= 100 = AR)", 7, "", {{T, "W"}, {C, ","}, {T, "A.TX"}, {O, ">="}, {N, "100"}}},
      {"\"a\"\"b\"", 1, "", {{T, "a\"b"}}},
      {"\"abc", 1, "", {{T, "ab"}}},  // an unclosed mark is an error only as the last character
      {"abc\"", -2, "Missing \"", {}},
      {"-", -1, "Invalid Number", {}},
      {"", -1, "", {}},
  };
  for (const TokenCase& c : cases) {
    TokenSlots slots;
    EXPECT_EQ(TokenizeValue(c.value, slots), c.result) << c.value;
    EXPECT_EQ(slots[0], c.error) << c.value;
    for (size_t i = 0; i < c.tokens.size(); ++i)
      EXPECT_EQ(slots[i + 1], Slot(c.tokens[i].first, c.tokens[i].second)) << c.value << i;
  }
}

}  // namespace
}  // namespace x5::conditions
