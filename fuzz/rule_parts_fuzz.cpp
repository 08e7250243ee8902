// Fuzzes the condition routines: whole rule texts through the driver (both passes, sections,
// markers, so every rule line and its parameters and tokens), the file and value checks on settings
// no parser would produce, and ColumnOf. Nothing may crash, hang, read outside a buffer or throw;
// outputs are whole lines, and console lines and value messages carry no control byte the rule
// did not give.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <limits>

#include "conditions/testing/rule_harness.h"
#include "conditions/value_check.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

using namespace x5::conditions;

namespace {

bool HasControl(std::string_view text) {
  return std::ranges::any_of(text, [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// Small, near either end of the range, or any.
int32_t AnyInt(FuzzedDataProvider& in) {
  const int kind = in.ConsumeIntegralInRange<int>(0, 3);
  const int32_t near = in.ConsumeIntegralInRange<int32_t>(0, 2);
  if (kind == 0)
    return in.ConsumeIntegralInRange<int32_t>(-3, 300);
  if (kind == 3)
    return in.ConsumeIntegral<int32_t>();
  return kind == 1 ? std::numeric_limits<int32_t>::max() - near
                   : std::numeric_limits<int32_t>::min() + near;
}

std::string AnyOperator(FuzzedDataProvider& in) {
  static const char* const kOperators[] = {"=", "<>", ">", "<", ">=", "<=", "", "=>", "\r\n"};
  return kOperators[in.ConsumeIntegralInRange<size_t>(0, std::size(kOperators) - 1)];
}

x5::conditions::RuleSettings AnySettings(FuzzedDataProvider& in) {
  x5::conditions::RuleSettings s;
  s.rc_value = in.ConsumeIntegralInRange<int32_t>(0, 99);
  s.reverse = in.ConsumeBool();
  s.case_folding = in.ConsumeBool();
  s.file_name = in.ConsumeBool() ? "A.LOG" : in.ConsumeRandomLengthString(8);
  s.open_mode = in.ConsumeIntegral<char>();
  s.occurrence_count = in.ConsumeIntegralInRange<int32_t>(-2, 6);
  for (std::string* text : {&s.attribute_pattern, &s.search_text, &s.variable_name})
    *text = in.ConsumeRandomLengthString(24);
  for (std::optional<std::string>* text : {&s.value_text_1, &s.value_text_2})
    *text = in.ConsumeBool() ? std::nullopt : std::optional(in.ConsumeRandomLengthString(12));
  for (std::string* op :
       {&s.size_operator, &s.attribute_operator, &s.value_operator_1, &s.value_operator_2})
    *op = AnyOperator(in);
  for (int32_t* number : {&s.size, &s.search_column, &s.value_offset, &s.value_length,
                          &s.value_number_1, &s.value_number_2, &s.start_position, &s.quantity})
    *number = AnyInt(in);
  return s;
}

// What a rule line may leave: whole lines out, an RC in range, console lines shown.
void CheckOutcome(const x5::conditions::testing::RuleHarness& h, const std::string& out) {
  Check(out.empty() || out.ends_with("\r\n"));
  Check(h.rc.step_rc_value >= 0 && h.rc.step_rc_value <= 99);
  Check(std::ranges::none_of(h.console, HasControl));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  x5::conditions::testing::RuleHarness h;
  h.context.limits.file_buffer_size = in.ConsumeIntegralInRange<int32_t>(-1, 160);
  h.context.limits.line_width = in.ConsumeIntegralInRange<int32_t>(-1, 200);
  h.context.limits.line_limit = in.ConsumeIntegralInRange<int32_t>(-1, 300);
  h.context.first_read_bytes = in.ConsumeIntegralInRange<int64_t>(1, 96);
  h.context.largest_read_bytes = in.ConsumeIntegralInRange<int64_t>(1, 256);
  h.pacer.stop_at = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(0, 40) : -1;
  h.files.Add("A.LOG", in.ConsumeRandomLengthString(2048));
  h.files.files["A.LOG"].fail_from =
      in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(0, 2048) : -1;
  h.files.files["A.LOG"].facts.read_only = in.ConsumeBool();
  h.files.Add("W.LOG", "busy");
  h.files.files["W.LOG"].open_fails = true;
  h.rc.step_rc_value = in.ConsumeIntegralInRange<int32_t>(0, 99);
  const int32_t line_number = AnyInt(in);
  const bool after_step = in.ConsumeBool();
  const bool forward = in.ConsumeBool();

  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
      const std::string text = in.ConsumeRemainingBytesAsString();
      for (x5::conditions::Pass pass :
           {x5::conditions::Pass::kBeforeStep, x5::conditions::Pass::kAfterStep})
        CheckOutcome(h, h.Run(pass, text));
      break;
    }
    case 1: {
      x5::conditions::RuleSettings s = AnySettings(in);
      CheckOutcome(h,
                   x5::conditions::CheckFileRule(h.context, s, line_number, after_step, forward));
      break;
    }
    case 2: {
      const x5::conditions::RuleSettings s = AnySettings(in);
      const int64_t found = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(-2, 2100)
                                             : in.ConsumeIntegral<int64_t>() / 2;
      x5::conditions::ConditionFile file;
      Check(x5::conditions::OpenConditionFile(h.files, 'R', "A.LOG", file).ok());
      const std::string out =
          x5::conditions::CheckValues(file, found, s, h.context.case_map, h.context.number_format);
      // The field is shown: a line break in the message can only come from the rule's own texts.
      const bool rule_breaks = (s.value_text_1 && HasControl(*s.value_text_1)) ||
                               (s.value_text_2 && HasControl(*s.value_text_2)) ||
                               HasControl(s.value_operator_1) || HasControl(s.value_operator_2);
      Check(rule_breaks || !HasControl(out));
      break;
    }
    default: {
      x5::conditions::ConditionFile file;
      Check(x5::conditions::OpenConditionFile(h.files, 'R', "A.LOG", file).ok());
      const int64_t position = in.ConsumeIntegral<int64_t>() / 2;
      const int64_t column = x5::conditions::ColumnOf(file, position, AnyInt(in));
      Check(column >= 0 && (column == 0 || column <= position));
      break;
    }
  }
  return 0;
}
