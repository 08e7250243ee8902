// Parsing condition rule lines into the rule settings, and the driver that walks the rule text.
#include "conditions/rule_language.h"

#include <vector>

#include "conditions/file_rule.h"
#include "conditions/text_concat.h"
#include "core/ascii_text.h"
#include "core/fault.h"
#include "core/shown_text.h"
#include "protocol/report_texts.h"

namespace x5::conditions {
namespace {

int32_t NumberOf(const Token& t) {
  return ParseNumber(t.value, false);
}

std::string StripQuotes(const std::string& text) {
  if (text.empty() || text.front() != '"')
    return text;
  return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
}

// The F value: file name, open mode, size test, attribute test. Returns the message of a rejection
// (empty when accepted).
std::string ParseFileValue(RuleSettings& s, std::string_view value) {
  Tokens t = Tokenize(value);
  if (t.result < 0)
    return Concat({protocol::kInvalidFile, t.error});
  std::vector<Token>& tok = t.list;
  int operators = 0;
  for (const Token& k : tok)
    operators += k.kind == TokenKind::kOperator ? 1 : 0;
  if (operators == 1 || operators == 2) {
    if (operators == 2 && tok.size() >= 3) {
      if (tok.back().kind == TokenKind::kOperator) {
        tok.pop_back();
      } else {
        for (char c : tok.back().value) {
          switch (c) {
            case 'A':
            case 'a':
              s.attribute_pattern[0] = 'A';
              break;
            case 'R':
            case 'r':
              s.attribute_pattern[1] = 'R';
              break;
            case 'S':
            case 's':
              s.attribute_pattern[2] = 'S';
              break;
            case 'H':
            case 'h':
              s.attribute_pattern[3] = 'H';
              break;
            default:
              return Concat({protocol::kInvalidAttribute, value});
          }
        }
        tok.pop_back();
        if (!tok.empty() && tok.back().kind == TokenKind::kOperator) {
          if (tok.back().value != "=" && tok.back().value != "<>")
            return Concat({protocol::kInvalidAttributeOperand, value});
          s.attribute_operator = tok.back().value;
          tok.pop_back();
        }
      }
    }
    size_t first = 0;
    while (first < tok.size() && tok[first].kind != TokenKind::kOperator)
      ++first;
    if (first + 1 >= tok.size())
      return Concat({protocol::kInvalidLengthSyntax, value});
    const int32_t size = ParseNumber(tok[first + 1].value, false);
    if (size < 0)
      return Concat({protocol::kInvalidLength, value});
    s.size_operator = tok[first].value;
    s.size = size;
    tok.erase(tok.begin() + static_cast<std::ptrdiff_t>(first),
              tok.begin() + static_cast<std::ptrdiff_t>(first) + 2);
  }
  std::string name;
  if (tok.size() == 1 && tok[0].kind == TokenKind::kText) {
    name = tok[0].value;
  } else if (tok.size() == 3 && tok[0].kind == TokenKind::kText &&
             tok[1].kind == TokenKind::kComma && tok[2].kind == TokenKind::kText &&
             tok[2].value.size() >= 4 && (tok[0].value == "R" || tok[0].value == "W")) {
    name = tok[2].value;
    s.open_mode = tok[0].value[0];
  }
  s.file_name = name;
  if (name.empty())
    return std::string(protocol::kInvalidFileSyntax);
  s.file_name = StripQuotes(name);
  return {};
}

std::string ParseSearchValue(RuleSettings& s, std::string_view value) {
  const Tokens t = Tokenize(value);
  if (t.result < 0)
    return Concat({protocol::kInvalidSearch, t.error});
  const std::vector<Token>& tok = t.list;
  if (tok.size() == 3 && tok[1].kind == TokenKind::kComma) {
    if (tok[0].kind == TokenKind::kNumber) {
      s.search_column = NumberOf(tok[0]);
      s.search_text = tok[2].kind == TokenKind::kText ? tok[2].value : std::string();
    }
  } else if (tok.size() == 1) {
    s.search_text = tok[0].kind == TokenKind::kText ? tok[0].value : std::string();
  } else {
    s.search_text.clear();
  }
  if (s.search_text.empty())
    return std::string(protocol::kInvalidSearchSyntax);
  s.search_text = StripQuotes(s.search_text);
  return {};
}

bool IsValue(const Token& t) {
  return t.kind == TokenKind::kNumber || t.kind == TokenKind::kText;
}

void SetComparison(RuleSettings& s, int which, const Token& op, const Token& value) {
  std::string& operator_setting = which == 1 ? s.value_operator_1 : s.value_operator_2;
  std::optional<std::string>& text = which == 1 ? s.value_text_1 : s.value_text_2;
  int32_t& number = which == 1 ? s.value_number_1 : s.value_number_2;
  operator_setting = op.value;
  if (value.kind == TokenKind::kText) {
    // A value written in quotation marks is compared as text even with a numeric field.
    text = value.quoted ? Concat({"\"", value.value, "\""}) : value.value;
    number = 0;
  } else {
    // The digits stay as the text: a field that is not a number is then compared with them.
    text = value.value;
    number = NumberOf(value);
  }
}

std::string ParseValueValue(RuleSettings& s, std::string_view value) {
  const Tokens t = Tokenize(value);
  if (t.result < 0 || t.list.size() < 3)
    return Concat({protocol::kInvalidValue, t.error});
  const std::vector<Token>& tok = t.list;
  bool offset_form = false;
  bool chosen = false;
  if (tok[1].kind == TokenKind::kComma) {
    if (tok[0].kind == TokenKind::kNumber) {
      s.value_offset = NumberOf(tok[0]);
      if (tok[2].kind == TokenKind::kNumber) {
        s.value_length = NumberOf(tok[2]);
        offset_form = chosen = true;
      } else {
        s.value_length = -1;
      }
    } else {
      s.value_offset = 0;
    }
  } else if (tok[0].kind == TokenKind::kNumber) {
    s.value_length = NumberOf(tok[0]);
    chosen = true;
  } else {
    s.value_length = -1;
  }
  if (s.value_length == -1)
    return std::string(protocol::kInvalidValueOffsetOrLength);
  if (!chosen)
    return std::string(protocol::kInvalidValueSyntax);

  const size_t base = offset_form ? 3 : 1;  // index of the first operator
  const size_t one = base + 2;              // token count with one comparison
  if (tok.size() == one) {
    if (tok[base].kind != TokenKind::kOperator || !IsValue(tok[base + 1]))
      return std::string(protocol::kInvalidValueOperand);
    SetComparison(s, 1, tok[base], tok[base + 1]);
  } else if (tok.size() == one + 2) {
    for (int which = 1; which <= 2; ++which) {
      const size_t at = base + 2 * static_cast<size_t>(which - 1);
      if (tok[at].kind != TokenKind::kOperator)
        continue;  // this comparison is left out
      if (!IsValue(tok[at + 1]))
        return std::string(protocol::kInvalidValueOperand);
      SetComparison(s, which, tok[at], tok[at + 1]);
    }
  } else {
    return std::string(protocol::kInvalidValueOperand);
  }
  return {};
}

// Handles one parameter; returns the rejection message and detail (empty when accepted).
std::string HandleParameter(RuleSettings& s,
                            char letter,
                            std::string_view value,
                            std::string_view parameter) {
  switch (letter) {
    case 'R': {
      std::string_view number = value;
      s.reverse = !value.empty() && value.front() == 'R';  // the reverse mark is a capital R only
      if (s.reverse)
        number.remove_prefix(1);
      const int32_t rc = ParseNumber(number, false);
      if (rc < 0 || rc > 99)
        return Concat({protocol::kInvalidRc, number});
      s.rc_value = rc;
      return {};
    }
    case 'N':
    case 'P':
    case 'Q': {
      const int32_t n = ParseNumber(value, false);
      if (n < 0) {
        const std::string_view message = letter == 'N'   ? protocol::kInvalidCount
                                         : letter == 'P' ? protocol::kInvalidPosition
                                                         : protocol::kInvalidQuantity;
        return Concat({message, value});
      }
      (letter == 'N' ? s.occurrence_count : letter == 'P' ? s.start_position : s.quantity) = n;
      return {};
    }
    case 'C':
      if (value == "N" || value == "n") {
        s.case_folding = false;
        return {};
      }
      return Concat({protocol::kInvalidCaps, value});
    case '?': {
      std::string name(core::Trim(value));
      if (name.find(' ') != std::string::npos)
        return Concat({protocol::kInvalidParameterName, name});
      s.variable_name = std::move(name);
      return {};
    }
    case 'F':
      return ParseFileValue(s, value);
    case 'S':
      return ParseSearchValue(s, value);
    case 'V':
      return ParseValueValue(s, value);
    default:
      return Concat({protocol::kInvalidCommand, parameter});
  }
}

// The parameter at the 1-based position, as NextParameter gives it, and whether its value runs to
// the end of the line inside a quotation mark that is never closed.
struct ReadParameter {
  std::string text;
  bool open_quote = false;
  ParameterFault fault = ParameterFault::kNone;
};

ReadParameter ReadParameterAt(std::string_view line, size_t position) {
  if (line.size() < 3 || position < 1 || position > line.size())
    return {{}, false, ParameterFault::kTooShort};
  const size_t at = position - 1;
  const size_t equals = line.find('=', at);
  if (equals != std::string_view::npos && equals == line.size() - 1)
    return {};
  if (at + 1 >= line.size() || line[at + 1] != '=')
    return {{}, false, ParameterFault::kNoEquals};
  const size_t value = at + 2;
  size_t end = value;  // one past the value's last character
  bool in_quotes = false;
  if (value < line.size() && line[value] == '(') {
    size_t i = value;
    for (; i < line.size(); ++i) {
      if (line[i] == '"')
        in_quotes = !in_quotes;
      else if (line[i] == ')' && !in_quotes)
        break;
    }
    if (i >= line.size())
      return {{}, false, ParameterFault::kOpenParenthesis};
    end = i + 1;
    in_quotes = false;
  } else {
    size_t i = value;
    while (i < line.size()) {
      const char c = line[i];
      if (c == ' ' && !in_quotes)
        break;
      if (c == '"') {
        if (i + 1 < line.size() && line[i + 1] == '"') {
          i += 2;
          continue;
        }
        if (i == line.size() - 1) {
          if (!in_quotes)
            return {{}, false, ParameterFault::kEndsInQuote};
          in_quotes = false;
          ++i;
          continue;
        }
        in_quotes = !in_quotes;
      }
      ++i;
    }
    end = i;
  }
  if (end - at < 3)
    return {{}, false, ParameterFault::kNoValue};
  return {std::string(line.substr(at, end - at)), in_quotes};
}

}  // namespace

std::string_view WordAt(std::string_view line, size_t column) {
  if (column < 1 || column > line.size())
    return {};
  const std::string_view rest = line.substr(column - 1);
  return rest.substr(0, rest.find(' '));
}

std::vector<RuleParameter> ReadRuleParameters(std::string_view line) {
  std::vector<RuleParameter> read;
  size_t position = 1;
  for (;;) {
    while (position <= line.size() && line[position - 1] == ' ')
      ++position;
    if (position > line.size())
      break;
    ReadParameter parameter = ReadParameterAt(line, position);
    read.push_back(
        RuleParameter{position, std::move(parameter.text), parameter.open_quote, parameter.fault});
    if (read.back().Ends() || read.back().Unreadable())
      break;
    position += read.back().text.size() + 1;  // the parameter and its separator
  }
  return read;
}

core::Result<ParsedRuleLine> ParseRuleLine(RuleSettings& s,
                                           std::string_view line,
                                           int32_t line_number,
                                           const CaseMap& case_map) noexcept {
  try {
    s.per_line() = PerLineSettings{};
    ParsedRuleLine parsed;
    for (RuleParameter& read : ReadRuleParameters(line)) {
      parsed.parameters.push_back(std::move(read));
      const RuleParameter& p = parsed.parameters.back();
      if (p.Ends()) {
        parsed.end = LineParse::kEnded;
        return parsed;
      }
      // A code in place of a parameter is answered with the one character where it stands.
      const std::string message =
          p.Unreadable() ? Concat({protocol::kInvalidCommand, line.substr(p.column - 1, 1)})
                         : HandleParameter(s, core::UpperAscii(p.Letter()), p.Value(), p.text);
      if (!message.empty()) {
        parsed.end = LineParse::kRejected;
        parsed.rejection = protocol::RuleRejectedLine(line_number, message, "");
        return parsed;
      }
    }
    if (s.case_folding)
      s.search_text = ToUpper(s.search_text, case_map);
    return parsed;
  } catch (...) {
    return core::Failure{std::string(core::UnexpectedFault("ParseRuleLine"))};
  }
}

std::string EvaluateRuleLine(ConditionContext& context,
                             RuleSettings& settings,
                             Pass pass,
                             std::string_view line,
                             int32_t line_number,
                             bool after_step,
                             bool forward,
                             bool* killed) noexcept {
  std::optional<ParsedRuleLine> parsed;
  std::string output;
  // A line of blanks only is as empty as an empty line (the blanks cannot be seen in the rules).
  if (after_step == (pass == Pass::kAfterStep) &&
      line.find_first_not_of(' ') != std::string_view::npos) {
    core::Result<ParsedRuleLine> parse =
        ParseRuleLine(settings, line, line_number, context.case_map);
    if (!parse) {
      // A line that could not be read is answered like a rejected one, with the fault named.
      try {
        core::ReportFault(context.console,
                          Concat({protocol::kRulesName, " line ", std::to_string(line_number)}),
                          parse.failure().text);
        output = protocol::RuleNotEvaluatedLine(line_number, core::ShownText(parse.failure().text));
      } catch (...) {
        core::UnexpectedFault("EvaluateRuleLine");
      }
    } else {
      parsed = std::move(*parse);
      if (parsed->end == LineParse::kRejected)
        output = parsed->rejection;
      else if (parsed->end == LineParse::kAccepted)
        output = CheckFileRule(context, settings, line_number, after_step, forward, killed);
    }
  }
  if (context.observer)
    context.observer->Evaluated(line_number, line, after_step, forward, settings,
                                parsed ? &*parsed : nullptr, output);
  return output;
}

std::string EvaluateConditions(ConditionContext& context,
                               RuleSettings& settings,
                               Pass pass,
                               std::string_view text) noexcept {
  std::string result;
  bool after_step = false;
  bool forward = false;
  bool killed = false;
  bool output_lost = false;
  int32_t line_number = 0;
  size_t line_start = 0;
  // Every line is evaluated even when the output can no longer be kept: its return code and
  // variable still count.
  auto evaluate = [&](std::string_view line) noexcept {
    if (killed)
      return;
    std::string output =
        EvaluateRuleLine(context, settings, pass, line, line_number, after_step, forward, &killed);
    try {
      result += output;
    } catch (...) {
      if (!output_lost)
        core::ReportFault(context.console, Concat({protocol::kRulesName, " output"}),
                          core::UnexpectedFault("EvaluateConditions"));
      output_lost = true;
    }
  };
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const char a = text[i];
    const char b = text[i + 1];
    if (a == '\r' && b == '\n') {
      ++line_number;
      if (i > line_start)
        evaluate(text.substr(line_start, i - line_start));
      line_start = i + 2;
    } else if ((a == '-' || a == '+') && (b == '>' || b == '<')) {
      // A section marker, wherever it stands; what the line held before it is dropped.
      after_step = a == '+';
      forward = b == '>';
      line_start = i + 2;
    }
  }
  if (line_start < text.size()) {
    ++line_number;
    evaluate(text.substr(line_start));
  }
  return result;
}

}  // namespace x5::conditions
