// Evaluation of one accepted rule line against a file: existence, size, attributes, open mode,
// text search and value checks; the line's output, the step RC value and the rule's variable.
#pragma once

#include <cstdint>
#include <string>

#include "conditions/rule_settings.h"

namespace x5::conditions {

// A value field longer than this is not read (it is reported as not found).
inline constexpr int64_t kMaxValueFieldBytes = 1024 * 1024;
// A found text's line number is noted on the console when at most this many bytes precede it.
inline constexpr int64_t kCheapLineCountBytes = 1024 * 1024;

// Evaluates the rule in `settings` (as parsed for this line). Returns its output (empty, or the
// prefixed message or found text). A firing rule sets the step RC value in context.rc; the rule's
// variable, if any, is set to the RC value. An operator KILL during the search sets the settings'
// RC value to 0 and *killed to true.
[[nodiscard]] std::string CheckFileRule(ConditionContext& context,
                                        RuleSettings& settings,
                                        int32_t line_number,
                                        bool after_step,
                                        bool forward,
                                        bool* killed = nullptr) noexcept;

}  // namespace x5::conditions
