// The rule traces of `x5ctl check`: each rule line of a pass, how it parsed, what it read, said and
// did.
#include "x5ctl/check/checker.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "core/ascii_text.h"
#include "x5ctl/step/explain.h"

namespace x5::ctl::check {
namespace {

using conditions::LineParse;
using conditions::RuleParameter;

// The last parameter of a line with that letter, as the rule code read it.
const RuleParameter* Last(const conditions::ParsedRuleLine& parsed, char letter) {
  const RuleParameter* last = nullptr;
  for (const RuleParameter& p : parsed.parameters)
    if (!p.Unreadable() && !p.Ends() && core::UpperAscii(p.Letter()) == letter)
      last = &p;
  return last;
}

// A V= value in the length form (no offset before a comma), by the rule code's own tokenizer.
bool LengthForm(std::string_view value) {
  const conditions::Tokens tokens = conditions::Tokenize(value);
  return tokens.list.size() >= 2 && tokens.list[1].kind != conditions::TokenKind::kComma;
}

}  // namespace

// Follows each rule line of a pass: how it parsed, what it read, what it said and did.
class Checker::RuleTrace final : public conditions::RuleLineObserver {
 public:
  RuleTrace(Checker& checker, conditions::Pass pass, bool emit)
      : checker_(checker),
        pass_(pass),
        emit_(emit),
        console_at_start_(checker.world_.journal().console.size()) {
    rc_ = checker.rc_.step_rc_value;
  }

  void Evaluated(int32_t line_number,
                 std::string_view line,
                 bool /*after_step*/,
                 bool forward,
                 const conditions::RuleSettings& settings,
                 const conditions::ParsedRuleLine* parsed,
                 std::string_view output) noexcept override {
    // The rules go on whatever happens here; a failure to follow them ends the check afterwards.
    try {
      if (parsed)
        Follow(line_number, line, forward, settings, *parsed, output);
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }

  void Checked(std::string_view finding, const conditions::ValueField* field) noexcept override {
    try {
      finding_ = finding;
      field_.reset();
      if (field)
        field_ = *field;
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }

  std::exception_ptr failure;

 private:
  void Follow(int32_t line_number,
              std::string_view line,
              bool forward,
              const conditions::RuleSettings& settings,
              const conditions::ParsedRuleLine& parsed,
              std::string_view output) {
    const bool after_step = pass_ == conditions::Pass::kAfterStep;
    if (after_step)
      ++checker_.after_rule_lines_;
    const LineParse parse = parsed.end;
    std::string outcome;
    if (parse == LineParse::kRejected) {
      outcome = "rejected";
    } else if (parse == LineParse::kEnded) {
      outcome = "ended";
    } else {
      // A reverse rule that stays quiet found its file not as it describes: the finding says how.
      outcome = !output.empty() ? "fired" : settings.reverse ? "not fired" : "passed";
      checker_.values_compared_ |= settings.value_length > 0;
      checker_.attributes_tested_ |=
          settings.attribute_operator == "=" ||
          settings.attribute_pattern.find_first_not_of(' ') != std::string::npos;
      checker_.exclusive_open_ |= settings.open_mode == 'W';
      checker_.job_log_read_after_ |=
          after_step && core::EqualIgnoringCase(settings.file_name,
                                                protocol::Trimmed(checker_.task_.console_file));
      checker_.folded_high_bytes_ |=
          settings.case_folding &&
          std::any_of(settings.search_text.begin(), settings.search_text.end(),
                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    }
    Json j;
    j["record"] = "rule";
    j["pass"] = pass_ == conditions::Pass::kAfterStep ? "after" : "before";
    j["line"] = line_number;
    j["text"] = U(line);
    j["search"] = forward ? "forward" : "backward";
    j["rc"] = settings.rc_value;
    j["search_text"] = parse == LineParse::kAccepted ? U(settings.search_text) : "";
    // S= keeps its value from line to line: a line without one searches for the last one's text.
    j["search_kept"] = !settings.search_text.empty() && Last(parsed, 'S') == nullptr;
    if (parse == LineParse::kAccepted && settings.value_length > 0) {
      j["value_offset"] = settings.value_offset;
      j["value_length"] = settings.value_length;
      // So does the offset of V=: a V= without one reads at the offset an earlier line gave.
      const RuleParameter* v = Last(parsed, 'V');
      j["value_offset_kept"] = settings.value_offset != 0 && v && LengthForm(v->Value());
      if (field_)
        j["value"] = ValueRecord(*field_, settings);
    }
    if (parse == LineParse::kAccepted && !finding_.empty())
      j["finding"] = U(finding_);
    if (parse == LineParse::kEnded)
      j["ended_at"] = U(line.substr(parsed.parameters.back().column - 1));
    if (parse == LineParse::kRejected) {
      // The word the runner stopped at and where, which its own message may not say.
      const RuleParameter& at = parsed.parameters.back();
      j["rejected_at"] =
          Json{{"column", at.column},
               {"word",
                U(at.Unreadable() ? std::string(conditions::WordAt(line, at.column)) : at.text)}};
      if (const std::string why = step::RejectionReason(at); !why.empty())
        j["rejected_at"]["why"] = why;
    }
    if (const std::string controls = ControlCharacters(line); !controls.empty()) {
      const std::string warning = "rule line " + std::to_string(line_number) + " holds " +
                                  controls + std::string(kControlHint);
      j["warnings"].push_back(warning);
      checker_.warnings_.push_back(warning);
    }
    for (const RuleParameter& p : parsed.parameters) {
      if (!p.open_quote)
        continue;
      const size_t quote = p.text.find('"');
      const std::string warning =
          "rule line " + std::to_string(line_number) + ", column " +
          std::to_string(p.column + quote) + ": the quotation mark in " +
          U(conditions::WordAt(line, p.column)) +
          " is never closed, so the value runs to the end of the line: " + U(p.text);
      j["warnings"].push_back(warning);
      checker_.warnings_.push_back(warning);
    }
    j["reverse"] = parse == LineParse::kAccepted && settings.reverse;
    j["outcome"] = outcome;
    j["console"] = checker_.Console();
    j["files"] = checker_.Files();
    if (outcome != "rejected" && outcome != "ended") {
      // Counted as missing here, the file may well be there on the real machine.
      for (const Json& file : j["files"]) {
        if (!file["local"].is_null())
          continue;
        j["outcome_here"] = outcome;
        j["outcome"] = "unchecked";
        checker_.unchecked_.push_back("line " + std::to_string(line_number) + " (" +
                                      file["path"].get<std::string>() + ")");
        break;
      }
      for (const Json& file : j["files"]) {
        if (file["local"].is_null() || file["found"])
          continue;
        // A mistyped name reads as a file that is not there: quiet either way.
        checker_.warnings_.push_back(
            "rule line " + std::to_string(line_number) + ": " + file["path"].get<std::string>() +
            " does not exist here (" + file["local"].get<std::string>() +
            "): a normal rule passes on a missing file unless its size test asks for more, and a "
            "reverse rule does not fire");
        break;
      }
      if (after_step && !settings.search_text.empty() &&
          core::EqualIgnoringCase(settings.file_name,
                                  protocol::Trimmed(checker_.task_.console_file))) {
        // The rules after the step read the job log as it was saved before they began.
        const std::string own =
            checker_.OwnJobLogLine(settings.search_text, settings.case_folding, console_at_start_);
        if (!own.empty())
          checker_.warnings_.push_back(
              "rule line " + std::to_string(line_number) + " searches " +
              U("\"" + settings.search_text + "\"") +
              " in the job log, where the runner's own line " + U("\"" + own + "\"") +
              " holds it too: the rule may find the runner's line instead of the step's");
      }
    }
    j["output"] = U(output);
    j["step_rc_before"] = rc_;
    j["step_rc_after"] = checker_.rc_.step_rc_value;
    j["variables"] = checker_.NewVariables();
    j["writes"] = checker_.Writes();
    rc_ = checker_.rc_.step_rc_value;
    finding_.clear();
    field_.reset();
    if (emit_)
      checker_.Emit(std::move(j));
  }

  // The field and how each of the line's values was compared with it, and why.
  static Json ValueRecord(const conditions::ValueField& field, const conditions::RuleSettings& s) {
    Json j;
    j["field"] = U(field.bytes);
    if (field.number != conditions::kInvalidNumber)
      j["number"] = field.number;
    j["comparisons"] = Json::array();
    const auto add = [&](const std::string& op, const std::optional<std::string>& value) {
      if (!value)
        return;
      Json c;
      c["operator"] = op;
      c["value"] = U(*value);
      const bool quoted = !value->empty() && value->front() == '"';
      if (quoted && value->size() <= 2) {
        c["as"] = "none";
        c["why"] = "the value is empty";
      } else if (quoted) {
        c["as"] = "text";
        c["why"] = "the value is in quotation marks";
      } else if (field.number == conditions::kInvalidNumber) {
        c["as"] = "text";
        c["why"] = field.bytes.find_first_of("\r\n") != std::string::npos
                       ? "the field is not a number: it holds a line end (only spaces are trimmed)"
                       : "the field is not a number (only spaces are trimmed)";
      } else {
        c["as"] = "number";
        c["why"] = "the field and the value are numbers";
      }
      j["comparisons"].push_back(std::move(c));
    };
    add(s.value_operator_1, s.value_text_1);
    add(s.value_operator_2, s.value_text_2);
    return j;
  }

  Checker& checker_;
  conditions::Pass pass_;
  bool emit_;
  size_t console_at_start_;  // the job log's lines before this pass
  int32_t rc_ = 0;
  std::string finding_;
  std::optional<conditions::ValueField> field_;
};

std::string Checker::Rules(conditions::Pass pass, bool emit) {
  const conditions::ConditionLimits limits{limits_.file_buffer_size, limits_.line_width,
                                           limits_.line_limit};
  variables::ContextVariableStore store(variables_);
  conditions::ConditionContext context(limits, rc_, world_.console(), store, world_.pacer(),
                                       world_.rule_files());
  context.number_format = world_.options().number_format;
  RuleTrace trace(*this, pass, emit);
  context.observer = &trace;
  std::string messages =
      conditions::EvaluateConditions(context, state_.rule_settings, pass, state_.condition_rules);
  if (trace.failure)
    std::rethrow_exception(trace.failure);
  return messages;
}

}  // namespace x5::ctl::check
