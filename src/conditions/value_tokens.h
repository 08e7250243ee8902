// The value tokenizer of the rule language: F=, S= and V= values cut into numbers, texts,
// operators and commas.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace x5::conditions {

// Token kinds; a token slot's first character is its kind's code.
enum class TokenKind : char { kNone = 0, kNumber = 1, kText = 2, kOperator = 3, kComma = 4 };

// Slot 0: the tokenizer's error text (empty when none); slots 1..7: the tokens, each its kind mark
// followed by its value.
using TokenSlots = std::array<std::string, 8>;

// Cuts a F, S or V value into at most 7 tokens. Returns the token count, or -1 (no token, an
// invalid number or operator), -2 (missing closing quotation mark), -3 (more than 7 tokens).
int32_t TokenizeValue(std::string_view value, TokenSlots& slots);

// A value's tokens, with the marks of a quoted text taken off.
struct Token {
  TokenKind kind = TokenKind::kNone;
  std::string value;
  bool quoted = false;  // written in quotation marks (the marks are not part of the value)
};

struct Tokens {
  std::vector<Token> list;
  int32_t result = -1;
  std::string error;
};

// Cuts a value into its tokens; `result` is the count or TokenizeValue's negative code.
Tokens Tokenize(std::string_view value);

}  // namespace x5::conditions
