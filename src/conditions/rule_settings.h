// The settings a condition rule line is parsed into, and what evaluating rules needs from the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conditions/case_map.h"
#include "conditions/condition_file.h"
#include "conditions/file_search.h"
#include "conditions/parse_number.h"
#include "core/interfaces.h"
#include "core/rc_rules.h"

namespace x5::conditions {

// The settings each parsed rule line starts from afresh: ParseRuleLine assigns a new one.
struct PerLineSettings {
  int32_t rc_value = 0;  // 0..99
  char open_mode = 'R';
  std::string size_operator = ">=";
  int32_t size = 0;
  std::string attribute_operator = "<>";
  std::string attribute_pattern = "    ";  // 4 characters "ARSH" or blank
  std::string value_operator_1 = ">=";
  std::optional<std::string> value_text_1;  // nullopt: no comparison set
  std::string value_operator_2 = "<";
  std::optional<std::string> value_text_2;
  bool case_folding = true;
  std::string variable_name;
};

// The settings a line keeps from the last earlier line that set them, in this pass or the pass
// before, also when that line was later rejected.
struct KeptSettings {
  bool reverse = false;
  std::string file_name;
  std::string search_text;
  int32_t search_column = 0;
  int32_t value_offset = 0;
  int32_t value_length = 0;
  int32_t value_number_1 = 0;
  int32_t value_number_2 = 0;
  int32_t occurrence_count = 0;
  int32_t start_position = 0;
  int32_t quantity = 0;
};

// The rule settings: the run keeps one for both passes.
struct RuleSettings : PerLineSettings, KeptSettings {
  PerLineSettings& per_line() { return *this; }
  KeptSettings& kept() { return *this; }
};

// The field a V= rule read after its found text.
struct ValueField {
  std::string bytes;                // as read, before case folding
  int32_t number = kInvalidNumber;  // its value when it reads as a number
};

// Why no parameter could be read where the reading of a rule line stopped.
enum class ParameterFault : uint8_t {
  kNone,
  kTooShort,         // fewer than three characters from there (a parameter is "X=" and a value)
  kNoEquals,         // no "=" after the letter: a blank ends a value outside () and ""
  kOpenParenthesis,  // a "(" never closed by ")"
  kEndsInQuote,      // the line ends in an opening quotation mark
  kNoValue,          // a blank right after the "=" (a parameter is at least three characters)
};

// One parameter of a rule line as the runner reads it.
struct RuleParameter {
  size_t column = 0;  // 1-based, where the parameter begins
  // Letter, "=" and value as written; empty where a last "X=" ends the line or where no
  // parameter could be read (`fault` says why).
  std::string text;
  // The value runs to the end of the line inside a quotation mark that is never closed.
  bool open_quote = false;
  ParameterFault fault = ParameterFault::kNone;

  bool Ends() const { return text.empty() && fault == ParameterFault::kNone; }
  bool Unreadable() const { return fault != ParameterFault::kNone; }
  char Letter() const { return text.empty() ? '\0' : text[0]; }
  std::string_view Value() const { return std::string_view(text).substr(text.size() < 2 ? 0 : 2); }
};

enum class LineParse { kAccepted, kEnded, kRejected };

// How a rule line was parsed.
struct ParsedRuleLine {
  LineParse end = LineParse::kAccepted;
  // Those handled, in order; the one that ended or rejected the line is the last.
  std::vector<RuleParameter> parameters;
  std::string rejection;  // a rejected line's one output line (number, message, detail, CR LF)
};

// Told of each rule line of a pass after it was evaluated (the runner has none; tools that explain
// rules to their authors do).
class RuleLineObserver {
 public:
  virtual ~RuleLineObserver() = default;
  // Before Evaluated, for a line whose file was checked: what a normal rule reports when it fires
  // ("" when the file is as the line describes), and the V= field if one was read.
  virtual void Checked(std::string_view /*finding*/, const ValueField* /*field*/) noexcept {}
  // `parsed` is null for a line that was not parsed (of the other pass, or blank).
  virtual void Evaluated(int32_t line_number,
                         std::string_view line,
                         bool after_step,
                         bool forward,
                         const RuleSettings& settings,
                         const ParsedRuleLine* parsed,
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
