// The settings a condition rule line is parsed into, and what evaluating rules needs from the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conditions/case_map.h"
#include "conditions/condition_file.h"
#include "conditions/file_search.h"
#include "conditions/parse_number.h"
#include "core/interfaces.h"
#include "core/rc_rules.h"

namespace x5::conditions {

// The rule settings. They live as long as the run (the run keeps one and passes it to both passes):
// some are reset at the start of every parsed line, the others keep what an earlier line set.
struct RuleSettings {
  int32_t rc_value = 0;  // 0..99, reset per line
  bool reverse = false;
  std::string file_name;
  char open_mode = 'R';            // reset per line
  std::string size_operator;       // reset per line to ">="
  int32_t size = 0;                // reset per line
  std::string attribute_operator;  // reset per line to "<>"
  std::string attribute_pattern;   // 4 characters "ARSH" or blank, reset per line
  std::string search_text;
  int32_t search_column = 0;
  int32_t value_offset = 0;
  int32_t value_length = 0;
  std::string value_operator_1;             // reset per line to ">="
  std::optional<std::string> value_text_1;  // nullopt: no comparison set (reset per line)
  int32_t value_number_1 = 0;
  std::string value_operator_2;  // reset per line to "<"
  std::optional<std::string> value_text_2;
  int32_t value_number_2 = 0;
  int32_t occurrence_count = 0;
  int32_t start_position = 0;
  int32_t quantity = 0;
  bool case_folding = false;  // reset per line to true
  std::string variable_name;  // reset per line
};

// The field a V= rule read after its found text.
struct ValueField {
  std::string bytes;                // as read, before case folding
  int32_t number = kInvalidNumber;  // its value when it reads as a number
};

// Told of each rule line of a pass after it was evaluated (the runner has none; tools that explain
// rules to their authors do).
class RuleLineObserver {
 public:
  virtual ~RuleLineObserver() = default;
  // Before Evaluated, for a line whose file was checked: what a normal rule reports when it fires
  // ("" when the file is as the line describes), and the V= field if one was read.
  virtual void Checked(std::string_view /*finding*/, const ValueField* /*field*/) noexcept {}
  virtual void Evaluated(int32_t line_number,
                         std::string_view line,
                         bool after_step,
                         bool forward,
                         const RuleSettings& settings,
                         std::string_view output) noexcept = 0;
};

// The task's normalised values for file conditions.
struct ConditionLimits {
  int32_t file_buffer_size = 4096;  // chunk size of searches, 1024..65536
  int32_t line_width = 0;           // default quantity; 0 = none
  int32_t line_limit = 256;         // how far a column test looks back for a line start
};

// What rule evaluation reads and changes in the run. The run owns everything referred to here.
struct ConditionContext {
  ConditionContext(const ConditionLimits& limits_in,
                   core::RcState& rc_in,
                   core::ConsoleSink& console_in,
                   core::VariableStore& variables_in,
                   Pacer& pacer_in,
                   RuleFiles& files_in) noexcept
      : limits(limits_in),
        rc(rc_in),
        console(console_in),
        variables(variables_in),
        pacer(pacer_in),
        files(files_in) {}

  ConditionLimits limits;
  core::RcState& rc;               // step_rc_value is set by firing rules
  core::ConsoleSink& console;      // where a found text's location is noted
  core::VariableStore& variables;  // the "?=" variable of a rule
  Pacer& pacer;                    // asked before every chunk read
  RuleFiles& files;
  CaseMap case_map = AsciiCaseMap();  // the runner passes SystemCaseMap()
  NumberFormat number_format;         // the runner passes UserNumberFormat()
  int64_t first_read_bytes = kFirstReadBytes;
  int64_t largest_read_bytes = kLargestReadBytes;
  RuleLineObserver* observer = nullptr;
};

}  // namespace x5::conditions
