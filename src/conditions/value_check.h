// Value conditions: comparing the field that follows a found text with the rule's one or two
// values, as numbers or as texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "conditions/condition_file.h"
#include "conditions/rule_settings.h"

namespace x5::conditions {

// Reads the field value_offset bytes after the found text (found_position is 1-based) from the
// open file and applies the comparisons of `settings`. Returns "" when every comparison made
// passed, else "Value not found", "Empty values" or the failed comparisons joined by " + ".
// `read`, when given, gets the field when there was one to read.
[[nodiscard]] std::string CheckValues(ConditionFile& file,
                                      int64_t found_position,
                                      const RuleSettings& settings,
                                      const CaseMap& case_map,
                                      const NumberFormat& number_format,
                                      std::optional<ValueField>* read = nullptr) noexcept;

}  // namespace x5::conditions
