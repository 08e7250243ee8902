// The condition rule language: cutting the conditions text into lines and sections, parsing a
// line's parameters into the rule settings, and the driver of both passes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "conditions/rule_settings.h"
#include "core/result.h"
#include "conditions/value_tokens.h"

namespace x5::conditions {

// The two times the rules are evaluated: before the step starts (lines after "->" and "-<") and
// after it ends (lines after "+>" and "+<").
enum class Pass { kBeforeStep, kAfterStep };

// The letters of the parameters a rule line may hold (the rest are answered " Invalid Command ").
inline constexpr std::string_view kParameterLetters = "RFSVNPQC?";

// The word of a rule line that begins at the 1-based column, up to the next blank: where the
// reading of a rejected line stopped, as its author wrote it.
[[nodiscard]] std::string_view WordAt(std::string_view line, size_t column);

// The parameters of a rule line from its start, as ParseRuleLine reads them: it stops after one
// that ends the line or cannot be read.
[[nodiscard]] std::vector<RuleParameter> ReadRuleParameters(std::string_view line);

// Resets the per-line settings and parses the line's parameters into them; a rejected line is
// parsed too (its one output line in `rejection`). An accepted line with case folding on has its
// search text upper-cased. Fails only when the line could not be handled at all (no memory).
[[nodiscard]] core::Result<ParsedRuleLine> ParseRuleLine(RuleSettings& settings,
                                                         std::string_view line,
                                                         int32_t line_number,
                                                         const CaseMap& case_map) noexcept;

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
