// The condition rule language: cutting the conditions text into lines and sections, parsing a
// line's parameters into the rule settings, the value tokenizer, and the driver of both passes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "conditions/rule_settings.h"

namespace x5::conditions {

// The two times the rules are evaluated: before the step starts (lines after "->" and "-<") and
// after it ends (lines after "+>" and "+<").
enum class Pass { kBeforeStep, kAfterStep };

// Token kinds; a token slot's first character is its kind's code.
enum class TokenKind : char { kNone = 0, kNumber = 1, kText = 2, kOperator = 3, kComma = 4 };

// Slot 0: the tokenizer's error text (empty when none); slots 1..7: the tokens, each its kind mark
// followed by its value.
using TokenSlots = std::array<std::string, 8>;

// Cuts a F, S or V value into at most 7 tokens. Returns the token count, or -1 (no token, an
// invalid number or operator), -2 (missing closing quotation mark), -3 (more than 7 tokens).
int32_t TokenizeValue(std::string_view value, TokenSlots& slots);

// The parameter that begins at the 1-based position, as written (letter, "=", value); empty when
// the first "=" from there on is the line's last character; "-1".."-4" when there is none.
std::string NextParameter(std::string_view line, size_t position);

// The text with every quotation mark doubled.
std::string DoubleQuotes(std::string_view text);

enum class LineParse { kAccepted, kEnded, kRejected };

// Resets the per-line settings and parses the line's parameters into them. On rejection `error`
// holds the complete output line (line number, message, detail, CR LF). An accepted line with case
// folding on has its search text upper-cased.
LineParse ParseRuleLine(RuleSettings& settings,
                        std::string_view line,
                        int32_t line_number,
                        const CaseMap& case_map,
                        std::string& error);

// Evaluates one rule line of the section given by the flags, in the given pass: nothing when the
// section belongs to the other pass, the error line of a rejected line, or what the file rule
// produced. `killed` is set when the operator killed the file check.
[[nodiscard]] std::string EvaluateRuleLine(ConditionContext& context,
                                           RuleSettings& settings,
                                           Pass pass,
                                           std::string_view line,
                                           int32_t line_number,
                                           bool after_step,
                                           bool forward,
                                           bool* killed = nullptr) noexcept;

// Evaluates every rule line of the pass (2 before the step, 3 after it) in the expanded
// conditions text; returns their output lines in order. May change the step RC value and set
// variables. After an operator KILL the remaining lines of the pass are not evaluated.
[[nodiscard]] std::string EvaluateConditions(ConditionContext& context,
                                             RuleSettings& settings,
                                             Pass pass,
                                             std::string_view rule_text) noexcept;

}  // namespace x5::conditions
