// The value tokenizer: kinds by character, quotation marks, and the checks of each token.
#include "conditions/value_tokens.h"
#include "core/ascii_text.h"

#include "conditions/parse_number.h"
#include "protocol/report_texts.h"

namespace x5::conditions {
namespace {

constexpr int kMaxTokens = 7;

bool IsOperatorChar(char c) {
  return c == '=' || c == '<' || c == '>';
}

bool IsOperator(std::string_view v) {
  return v == "=" || v == "<" || v == ">" || v == "<>" || v == ">=" || v == "<=";
}

}  // namespace

Tokens Tokenize(std::string_view value) {
  Tokens out;
  std::string_view v = value;
  if (!v.empty() && v.front() == '(')
    v = v.size() >= 2 ? v.substr(1, v.size() - 2) : std::string_view();
  bool in_quotes = false;
  TokenKind last = TokenKind::kNone;
  for (size_t i = 0; i < v.size(); ++i) {
    char c = v[i];
    TokenKind kind;
    if (c == '"') {
      kind = TokenKind::kText;
      if (i + 1 < v.size()) {
        if (v[i + 1] == '"' && in_quotes)
          ++i;  // a doubled mark inside quotes stands for one; the second one is added
        else
          in_quotes = !in_quotes;
      } else if (!in_quotes) {
        out.error = protocol::kMissingQuote;
        out.result = -2;
        out.list.clear();
        return out;
      } else {
        in_quotes = false;
      }
    } else if (in_quotes) {
      kind = TokenKind::kText;
    } else if (core::IsAsciiDigit(c) || c == '-') {
      kind = TokenKind::kNumber;
    } else if (IsOperatorChar(c)) {
      kind = TokenKind::kOperator;
    } else if (c == ',') {
      kind = TokenKind::kComma;
    } else if (c == ' ') {
      continue;
    } else {
      kind = TokenKind::kText;
    }
    // Digits and "-" right after text stay part of the text (ERR42 is one text).
    if (!(last == TokenKind::kText && kind == TokenKind::kNumber) && kind != last) {
      if (static_cast<int>(out.list.size()) >= kMaxTokens) {
        out.error = protocol::kTooManyTokens;
        out.result = -3;
        out.list.clear();
        return out;
      }
      out.list.push_back(Token{kind, std::string(), false});
      last = kind;
    }
    out.list.back().value += c;
  }
  for (Token& t : out.list) {
    switch (t.kind) {
      case TokenKind::kNumber:
        if (ParseNumber(t.value, false) == kInvalidNumber) {
          out.error = protocol::kInvalidNumberToken;
          out.result = -1;
          return out;
        }
        break;
      case TokenKind::kText:
        if (!t.value.empty() && t.value.front() == '"') {
          t.quoted = true;
          t.value = t.value.size() >= 2 ? t.value.substr(1, t.value.size() - 2) : std::string();
        }
        break;
      case TokenKind::kOperator:
        if (!IsOperator(t.value)) {
          out.error = protocol::kInvalidOperatorToken;
          out.result = -1;
          return out;
        }
        break;
      default:
        break;
    }
  }
  out.result = out.list.empty() ? -1 : static_cast<int32_t>(out.list.size());
  return out;
}

int32_t TokenizeValue(std::string_view value, TokenSlots& slots) {
  for (std::string& slot : slots)
    slot.clear();
  Tokens t = Tokenize(value);
  slots[0] = t.error;
  for (size_t i = 0; i < t.list.size() && i < kMaxTokens; ++i) {
    Token& k = t.list[i];
    slots[i + 1] = std::string(1, static_cast<char>(k.kind)) + k.value;
  }
  return t.result;
}

}  // namespace x5::conditions
