// Reading the value field after a found text and comparing it with the rule's values.
#include "conditions/value_check.h"

#include "conditions/file_rule.h"
#include "conditions/rule_language.h"
#include "core/fault.h"
#include "core/shown_text.h"
#include "protocol/report_texts.h"

namespace x5::conditions {
namespace {

// `order` is <0, 0 or >0 as the field is below, equal to or above the value.
bool Holds(std::string_view op, int order) {
  if (op == "=")
    return order == 0;
  if (op == "<>")
    return order != 0;
  if (op == ">")
    return order > 0;
  if (op == "<")
    return order < 0;
  if (op == ">=")
    return order >= 0;
  if (op == "<=")
    return order <= 0;
  return false;
}

std::string Trimmed(const std::string& text) {
  const size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos)
    return {};
  return text.substr(b, text.find_last_not_of(' ') - b + 1);
}

struct Comparison {
  const std::string& op;
  const std::optional<std::string>& text;
  int32_t number;
};

// Applies one comparison; appends a failure to `result`, notes a pass in `passed`.
void Compare(const Comparison& c,
             const std::string& field,
             int32_t field_number,
             std::string& result,
             bool& passed) {
  const std::string& value = *c.text;
  const bool quoted = !value.empty() && value.front() == '"';
  if (quoted || field_number == kInvalidNumber) {
    const std::string wanted =
        quoted ? (value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string()) : value;
    if (wanted.empty())
      return;  // nothing to compare with: neither passed nor failed
    if (Holds(c.op, field.compare(wanted))) {
      passed = true;
      return;
    }
    if (!result.empty())
      result += protocol::kComparisonJoin;
    // The field is bytes of the searched file: shown, so it cannot break or forge a line.
    result += protocol::TextComparisonFailed(core::ShownText(field), c.op, wanted);
    return;
  }
  const int order = field_number < c.number ? -1 : (field_number > c.number ? 1 : 0);
  if (Holds(c.op, order)) {
    passed = true;
    return;
  }
  if (!result.empty())
    result += protocol::kComparisonJoin;
  result += protocol::NumberComparisonFailed(field_number, c.op, c.number);
}

}  // namespace

std::string CheckValues(ConditionFile& file,
                        int64_t found_position,
                        const RuleSettings& s,
                        const CaseMap& case_map,
                        const NumberFormat& number_format,
                        std::optional<ValueField>* read) noexcept {
  try {
    if (s.value_length <= 0)
      return {};
    const int64_t length = s.value_length;
    const int64_t field_position =
        found_position + static_cast<int64_t>(s.search_text.size()) + s.value_offset;
    const std::optional<int64_t> size = file.Size();
    // Before the first byte, past the last, or too long to be a value: there is no such field.
    if (field_position < 1 || !size || field_position + length - 1 > *size ||
        length > kMaxValueFieldBytes)
      return std::string(protocol::kValueNotFound);
    const std::span<const uint8_t> bytes = file.Peek(field_position - 1, length);
    if (bytes.empty())
      return std::string(protocol::kValueNotFound);
    std::string field(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const int32_t field_number = ParseNumber(Trimmed(field), true, number_format);
    if (read)
      *read = ValueField{field, field_number};
    if (s.case_folding)
      field = ToUpper(field, case_map);

    std::string result;
    bool passed = false;
    if (s.value_text_1)
      Compare({s.value_operator_1, s.value_text_1, s.value_number_1}, field, field_number, result,
              passed);
    if (!s.value_text_2)
      return result;
    Compare({s.value_operator_2, s.value_text_2, s.value_number_2}, field, field_number, result,
            passed);
    if (result.empty() && !passed)
      return std::string(protocol::kEmptyValues);
    return result;
  } catch (...) {
    core::UnexpectedFault("CheckValues");
    return std::string(protocol::kValueNotFound);  // as for a field that cannot be read
  }
}

}  // namespace x5::conditions
