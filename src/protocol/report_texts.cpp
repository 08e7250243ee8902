// The runner's report and job log lines, written and read in one place.
#include "protocol/report_texts.h"

#include <charconv>

#include "protocol/protocol.h"

namespace x5::protocol {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kAbendWarningStart = "***** WARNING - ABEND MODE, Task RC= ";
constexpr std::string_view kEndedStart = "***** Task ENDED as requested *****, Step RC=";
constexpr std::string_view kAbendedStart = "***** Task Step ABENDED *****, Step RC=";
constexpr std::string_view kNotExecutedStart = "***** Task Step NOT executed *****, Step RC=";
constexpr std::string_view kStepMin = "  / Step Min=";
constexpr std::string_view kStepMax = " Max=";
constexpr std::string_view kMaxRc = "  / Max RC=";
constexpr std::string_view kStarsEnd = " *****";
constexpr std::string_view kLaunchFailedStart = "***** Error - Command  \"";
constexpr std::string_view kOperatorStart = "***** Task #";
constexpr std::string_view kHeld = " HOLDED on user request *****";
constexpr std::string_view kResumed = " RESUMED on user request *****";
constexpr std::string_view kKilled = " KILLED on user request *****";
constexpr std::string_view kFoundPositionStart = "*** String Found at Position: ";
constexpr std::string_view kMaxQuantity = " Max Quantity= ";
constexpr std::string_view kFoundPositionEnd = " *** ";
constexpr std::string_view kHaveAttributes = "\" have requested attributes";
constexpr std::string_view kRuleNotEvaluated = " Rule not evaluated: ";
constexpr size_t kPrefixWidth = 12;

std::string Number(int64_t n) {
  return std::to_string(n);
}

// Moves past `literal` at the start of `text`; false (and `text` unchanged) when it is not there.
bool Take(std::string_view& text, std::string_view literal) {
  if (!text.starts_with(literal))
    return false;
  text.remove_prefix(literal.size());
  return true;
}

// A decimal number (a minus sign allowed) at the start of `text`, moved past.
template <class T>
std::optional<T> TakeNumber(std::string_view& text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data())
    return std::nullopt;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return value;
}

// The text between quotation marks whose inner marks are doubled, from the start of `text` (just
// after the opening mark) up to the closing mark followed by `after`; moved past both.
std::optional<std::string> TakeQuoted(std::string_view& text, std::string_view after) {
  std::string value;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '"') {
      value += text[i];
      continue;
    }
    if (text.substr(i + 1).starts_with(after)) {
      text.remove_prefix(i + 1 + after.size());
      return value;
    }
    if (i + 1 < text.size() && text[i + 1] == '"') {
      value += '"';
      ++i;
      continue;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// "  / Max RC=4" at the very end.
bool TakeMaxRc(std::string_view text, ReportLine& line) {
  if (!Take(text, kMaxRc))
    return false;
  const std::optional<int32_t> max = TakeNumber<int32_t>(text);
  if (!max || !text.empty())
    return false;
  line.maximum_rc = *max;
  return true;
}

bool ReadRcLine(std::string_view text, ReportLine& line) {
  ReportLine::Kind kind;
  if (Take(text, kEndedStart))
    kind = ReportLine::Kind::kRcEnded;
  else if (Take(text, kAbendedStart))
    kind = ReportLine::Kind::kRcAbended;
  else if (Take(text, kNotExecutedStart))
    kind = ReportLine::Kind::kRcNotExecuted;
  else
    return false;
  const std::optional<int32_t> step_rc = TakeNumber<int32_t>(text);
  if (!step_rc)
    return false;
  line.step_rc = *step_rc;
  if (kind == ReportLine::Kind::kRcNotExecuted) {
    if (!Take(text, kStepMin))
      return false;
    const std::optional<int32_t> min = TakeNumber<int32_t>(text);
    if (!min || !Take(text, kStepMax))
      return false;
    const std::optional<int32_t> max = TakeNumber<int32_t>(text);
    if (!max)
      return false;
    line.step_minimum_rc = *min;
    line.step_maximum_rc = *max;
  }
  if (!TakeMaxRc(text, line))
    return false;
  line.kind = kind;
  return true;
}

bool ReadLaunchFailed(std::string_view text, ReportLine& line) {
  // The command is anything up to the last "\"  " whose status text and RC end the line.
  if (!Take(text, kLaunchFailedStart) || !text.ends_with(kStarsEnd))
    return false;
  text.remove_suffix(kStarsEnd.size());
  const size_t rc = text.rfind(" RC=");
  if (rc == std::string_view::npos || rc < 11)
    return false;
  std::string_view code_text = text.substr(rc + 4);
  const std::optional<int32_t> code = TakeNumber<int32_t>(code_text);
  if (!code || !code_text.empty())
    return false;
  // "\"  " then the status text of 8 characters.
  const std::string_view head = text.substr(0, rc);
  if (head.size() < 11 || head.substr(head.size() - 11, 3) != "\"  ")
    return false;
  line.kind = ReportLine::Kind::kLaunchFailed;
  line.text = std::string(head.substr(0, head.size() - 11));
  line.status_text = std::string(head.substr(head.size() - 8));
  line.code = *code;
  return true;
}

bool ReadOperatorLine(std::string_view text, ReportLine& line) {
  if (!Take(text, kOperatorStart))
    return false;
  const std::optional<uint32_t> process_id = TakeNumber<uint32_t>(text);
  if (!process_id)
    return false;
  const struct {
    std::string_view end;
    OperatorCommandKind kind;
  } kEnds[] = {{kHeld, OperatorCommandKind::kHold},
               {kResumed, OperatorCommandKind::kResume},
               {kKilled, OperatorCommandKind::kKill}};
  for (const auto& e : kEnds) {
    if (text == e.end) {
      line.kind = ReportLine::Kind::kOperator;
      line.operator_kind = e.kind;
      line.process_id = *process_id;
      return true;
    }
  }
  return false;
}

// "-3 RC=8     message": the prefix as RuleLinePrefix builds it.
bool ReadRuleOutput(std::string_view text, ReportLine& line) {
  if (text.size() < kPrefixWidth || (text[0] != '-' && text[0] != '+'))
    return false;
  std::string_view prefix = text.substr(1, kPrefixWidth - 1);
  const std::optional<int32_t> number = TakeNumber<int32_t>(prefix);
  if (!number || *number < 0 || !Take(prefix, " RC="))
    return false;
  const std::optional<int32_t> rc = TakeNumber<int32_t>(prefix);
  if (!rc || prefix.find_first_not_of(' ') != std::string_view::npos)
    return false;
  line.kind = ReportLine::Kind::kRuleOutput;
  line.after_step = text[0] == '+';
  line.rule_line = *number;
  line.rc = *rc;
  line.text = std::string(text.substr(kPrefixWidth));
  return true;
}

bool ReadRuleRejected(std::string_view text, ReportLine& line) {
  const std::optional<int32_t> number = TakeNumber<int32_t>(text);
  if (!number || *number < 0)
    return false;
  if (Take(text, kRuleNotEvaluated)) {
    line.kind = ReportLine::Kind::kRuleNotEvaluated;
  } else if (text.starts_with(" Invalid ")) {
    line.kind = ReportLine::Kind::kRuleRejected;
  } else {
    return false;
  }
  line.rule_line = *number;
  line.text = std::string(text);
  return true;
}

}  // namespace

std::string AbendModeWarning(int32_t task_rc) {
  return std::string(kAbendWarningStart) + Number(task_rc) + std::string(kStarsEnd) + "\r\n\r\n";
}

std::string RcRulesMessage(core::RcDecision decision, const core::RcState& rc) {
  const std::string tail =
      Number(rc.current_rc) + std::string(kMaxRc) + Number(rc.maximum_rc) + std::string(kLineEnd);
  switch (decision) {
    case core::RcDecision::kRuns:
      return {};
    case core::RcDecision::kEnded:
      return std::string(kLineEnd) + std::string(kEndedStart) + tail;
    case core::RcDecision::kAbended:
      return std::string(kLineEnd) + std::string(kAbendedStart) + tail;
    case core::RcDecision::kSkipped:
      return std::string(kNotExecutedStart) + Number(rc.current_rc) + std::string(kStepMin) +
             Number(rc.step_minimum_rc) + std::string(kStepMax) + Number(rc.step_maximum_rc) +
             std::string(kMaxRc) + Number(rc.maximum_rc) + std::string(kLineEnd);
  }
  return {};
}

std::string NoCommandLine(int32_t current_rc, bool raised) {
  if (raised)
    return "***** No command to execute - current RC=1 new RC=2 *****\r\n";
  return "***** No command to execute current RC=" + Number(current_rc) + " *****\r\n";
}

std::string LaunchFailedLine(std::string_view shown_command,
                             std::string_view status_text,
                             int32_t code) {
  return std::string(kLaunchFailedStart) + std::string(shown_command) + "\"  " +
         Padded(status_text, 8) + " RC=" + Number(code) + std::string(kStarsEnd) +
         std::string(kLineEnd);
}

std::string CommandTooLongLine(size_t length, size_t longest) {
  return "** The command line is " + std::to_string(length) +
         " characters long; the system starts at most " + std::to_string(longest) +
         ": the step is not started **";
}

std::string OperatorLine(OperatorCommandKind kind, uint32_t process_id) {
  std::string_view end;
  switch (kind) {
    case OperatorCommandKind::kHold:
      end = kHeld;
      break;
    case OperatorCommandKind::kResume:
      end = kResumed;
      break;
    case OperatorCommandKind::kKill:
      end = kKilled;
      break;
    default:
      return {};
  }
  return std::string(kLineEnd) + std::string(kOperatorStart) + Number(process_id) +
         std::string(end) + std::string(kLineEnd);
}

std::string RuleLinePrefix(int32_t line_number, int32_t rc_value, bool after_step) {
  std::string prefix(1, ' ');
  prefix.append(Number(line_number)).append(" RC=").append(Number(rc_value));
  prefix.resize(kPrefixWidth, ' ');
  prefix[0] = after_step ? '+' : '-';
  return prefix;
}

std::string RuleRejectedLine(int32_t line_number,
                             std::string_view message,
                             std::string_view detail) {
  return Number(line_number) + std::string(message) + std::string(detail) + std::string(kLineEnd);
}

std::string DoubleQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '"')
      out += '"';
  }
  return out;
}

std::string FileSizeFinding(int64_t size, std::string_view op, int32_t wanted) {
  return "File Size= " + Number(size) + " requested: " + std::string(op) + Number(wanted);
}

std::string FileAttributeFinding(std::string_view actual,
                                 std::string_view op,
                                 std::string_view wanted) {
  return "File Attribute " + std::string(actual) + " requested: " + std::string(op) +
         std::string(wanted);
}

std::string InvalidFileFinding(std::string_view file_name) {
  return "Invalid file \"" + std::string(file_name) + "\"";
}

std::string OpenFailedFinding(std::string_view file_name, char open_mode) {
  // "succesful" is the runner's own spelling, which parents match.
  return "Open \"" + std::string(file_name) + "\" for " + std::string(1, open_mode) +
         " not succesful";
}

std::string ReadFailedFinding(std::string_view file_name) {
  return "Read \"" + std::string(file_name) + "\" not succesful";
}

std::string NotFoundFinding(std::string_view search_text) {
  return "String \"" + DoubleQuotes(search_text) + "\" not found";
}

std::string RulesKilledFinding() {
  return "***** Task " + std::string(kRulesName) + std::string(kKilled);
}

std::string TextComparisonFailed(std::string_view shown_field,
                                 std::string_view op,
                                 std::string_view wanted) {
  return "\"" + DoubleQuotes(shown_field) + "\"" + std::string(op) + "\"" + DoubleQuotes(wanted) +
         "\" = False";
}

std::string NumberComparisonFailed(int32_t field, std::string_view op, int32_t wanted) {
  return Number(field) + std::string(op) + Number(wanted) + " = False";
}

std::string FoundFileText(std::string_view file_name) {
  return "File \"" + std::string(file_name) + std::string(kHaveAttributes);
}

std::string FoundPositionText(int64_t position, int64_t quantity) {
  return std::string(kFoundPositionStart) + Number(position) + std::string(kMaxQuantity) +
         Number(quantity) + std::string(kFoundPositionEnd) + std::string(kLineEnd);
}

std::string FoundNote(std::string_view search_text,
                      std::string_view file_name,
                      int64_t byte_offset,
                      std::optional<int64_t> line,
                      std::optional<int64_t> column) {
  std::string note = "String \"" + DoubleQuotes(search_text) + "\" found in \"" +
                     std::string(file_name) + "\" at byte offset " + Number(byte_offset);
  if (line)
    note += ", line " + Number(*line);
  if (column)
    note += ", column " + Number(*column);
  return note;
}

std::string RuleNotEvaluatedLine(int32_t line_number, std::string_view fault) {
  return Number(line_number) + std::string(kRuleNotEvaluated) + std::string(fault) +
         std::string(kLineEnd);
}

ReportLine ReadReportLine(std::string_view text) {
  ReportLine line;
  // A rule's line first: what follows its prefix is never read as anything else.
  if (ReadRuleOutput(text, line) || ReadRuleRejected(text, line) || ReadRcLine(text, line) ||
      ReadLaunchFailed(text, line) || ReadOperatorLine(text, line))
    return line;
  line = ReportLine{};
  if (std::string_view rest = text; Take(rest, kAbendWarningStart)) {
    const std::optional<int32_t> task_rc = TakeNumber<int32_t>(rest);
    if (task_rc && rest == kStarsEnd) {
      line.kind = ReportLine::Kind::kAbendWarning;
      line.task_rc = *task_rc;
    }
  } else if (text == kMaximumRcZeroMessage) {
    line.kind = ReportLine::Kind::kMaximumRcZero;
  } else if (text == kNoConsoleMessage) {
    line.kind = ReportLine::Kind::kNoConsole;
  } else if (std::string(text) + std::string(kLineEnd) == kInvalidLogonMessage) {
    line.kind = ReportLine::Kind::kInvalidLogon;
  }
  return line;
}

RuleFinding ReadRuleFinding(std::string_view message) {
  RuleFinding finding;
  std::string_view rest = message;
  if (Take(rest, kFoundPositionStart)) {
    const std::optional<int64_t> position = TakeNumber<int64_t>(rest);
    if (position && Take(rest, kMaxQuantity)) {
      const std::optional<int64_t> quantity = TakeNumber<int64_t>(rest);
      if (quantity && (rest == kFoundPositionEnd || rest == "")) {
        finding.kind = RuleFinding::Kind::kFoundPosition;
        finding.position = *position;
        finding.quantity = *quantity;
        return finding;
      }
    }
  }
  rest = message;
  if (message == RulesKilledFinding()) {
    finding.kind = RuleFinding::Kind::kKilled;
  } else if (message == kValueNotFound) {
    finding.kind = RuleFinding::Kind::kValueNotFound;
  } else if (message == kEmptyValues) {
    finding.kind = RuleFinding::Kind::kEmptyValues;
  } else if (Take(rest, "File Size= ")) {
    finding.kind = RuleFinding::Kind::kFileSize;
  } else if (Take(rest, "File Attribute ")) {
    finding.kind = RuleFinding::Kind::kFileAttributes;
  } else if (Take(rest, "String \"")) {
    if (std::optional<std::string> text = TakeQuoted(rest, " not found"); text && rest.empty()) {
      finding.kind = RuleFinding::Kind::kNotFound;
      finding.text = std::move(*text);
      return finding;
    }
  } else if (rest = message; Take(rest, "File \"") && rest.ends_with(kHaveAttributes)) {
    finding.kind = RuleFinding::Kind::kFoundFile;
    finding.file_name = std::string(rest.substr(0, rest.size() - kHaveAttributes.size()));
    return finding;
  } else if (rest = message; Take(rest, "Invalid file \"") && rest.ends_with("\"")) {
    finding.kind = RuleFinding::Kind::kInvalidFile;
    finding.file_name = std::string(rest.substr(0, rest.size() - 1));
    return finding;
  } else if (rest = message; Take(rest, "Read \"") && rest.ends_with("\" not succesful")) {
    finding.kind = RuleFinding::Kind::kReadFailed;
    finding.file_name = std::string(rest.substr(0, rest.size() - 15));
    return finding;
  } else if (rest = message;
             Take(rest, "Open \"") && rest.ends_with(" not succesful") && rest.size() >= 21) {
    finding.kind = RuleFinding::Kind::kOpenFailed;
    finding.file_name = std::string(rest.substr(0, rest.size() - 21));
    return finding;
  }
  finding.text = std::string(message);
  return finding;
}

std::optional<FoundNoteLine> ReadFoundNote(std::string_view line) {
  if (!Take(line, "String \""))
    return std::nullopt;
  FoundNoteLine note;
  std::optional<std::string> text = TakeQuoted(line, " found in \"");
  if (!text)
    return std::nullopt;
  note.search_text = std::move(*text);
  const size_t end = line.find("\" at byte offset ");
  if (end == std::string_view::npos)
    return std::nullopt;
  note.file_name = std::string(line.substr(0, end));
  line.remove_prefix(end + 17);
  const std::optional<int64_t> offset = TakeNumber<int64_t>(line);
  if (!offset)
    return std::nullopt;
  note.byte_offset = *offset;
  return note;
}

}  // namespace x5::protocol
