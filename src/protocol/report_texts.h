// The lines the runner writes into its report text and job log, written and read here only: the
// main sequence's early ends and return-code messages, the operator's lines, the condition rules'
// report lines and console notes. The runner writes through the functions below and x5ctl reads
// through ReadReportLine and ReadRuleFinding, so a changed text changes both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/rc_rules.h"
#include "protocol/operator_commands.h"

namespace x5::protocol {

// ------------------------------------------------------------------------------ main sequence

// Starts the report text in abend mode: "***** WARNING - ABEND MODE, Task RC= 5 *****", two line
// ends.
std::string AbendModeWarning(int32_t task_rc);
inline constexpr std::string_view kMaximumRcZeroMessage = "** ERROR - Maximum Return Code = 0 **";
inline constexpr std::string_view kNoConsoleMessage = "** Unable to open console **";

// What an application of the return-code rules appends to its messages: nothing when the step may
// run, else the ENDED, ABENDED or NOT executed line with the line ends around it.
std::string RcRulesMessage(core::RcDecision decision, const core::RcState& rc);

// The job log's line when no command line is left, with its line end: `raised` when a current RC
// of 1 became 2.
std::string NoCommandLine(int32_t current_rc, bool raised);

// The report text's line for a launch that failed, with its line end: the logon's own, or the
// command (passwords masked), the launch's status text padded to 8 and its code.
inline constexpr std::string_view kInvalidLogonMessage = "***** INVALID LOGON  RC=99 *****\r\n";
std::string LaunchFailedLine(std::string_view shown_command,
                             std::string_view status_text,
                             int32_t code);

// The job log's line for a command line longer than the system starts.
std::string CommandTooLongLine(size_t length, size_t longest);

// The report text's line for an operator's STOP, STRT or KILL of the step's process, with the line
// ends around it: "***** Task #392 KILLED on user request *****".
std::string OperatorLine(OperatorCommandKind kind, uint32_t process_id);

// ------------------------------------------------------------------------------ condition rules

// The runner's name for its condition rules in its messages.
inline constexpr std::string_view kRulesName = "DezaVI";

// The 12-character start of every output line of an evaluated rule: "-" (before the step) or "+"
// (after it), the line number, " RC=" and the RC value, padded with blanks or cut.
std::string RuleLinePrefix(int32_t line_number, int32_t rc_value, bool after_step);

// The one output line of a rejected rule line: its number, the message and the detail.
std::string RuleRejectedLine(int32_t line_number,
                             std::string_view message,
                             std::string_view detail);

// The messages of a rejected rule line, each followed by its detail (some have none).
inline constexpr std::string_view kInvalidCommand = " Invalid Command ";
inline constexpr std::string_view kInvalidRc = " Invalid R=";
inline constexpr std::string_view kInvalidParameterName = " Invalid Parameter Name=";
inline constexpr std::string_view kInvalidCaps = " Invalid Caps C=";
inline constexpr std::string_view kInvalidPosition = " Invalid Position P=";
inline constexpr std::string_view kInvalidCount = " Invalid Number N=";
inline constexpr std::string_view kInvalidQuantity = " Invalid Quantity Q=";
inline constexpr std::string_view kInvalidValue = " Invalid V=";
inline constexpr std::string_view kInvalidValueOffsetOrLength = " Invalid V= Offset or Length";
inline constexpr std::string_view kInvalidValueSyntax = " Invalid V= Syntax";
inline constexpr std::string_view kInvalidValueOperand = " Invalid V= Operand or Value";
inline constexpr std::string_view kInvalidSearch = " Invalid S=";
inline constexpr std::string_view kInvalidSearchSyntax = " Invalid S= Syntax";
inline constexpr std::string_view kInvalidFile = " Invalid F=";
inline constexpr std::string_view kInvalidAttribute = " Invalid Attribute ";
inline constexpr std::string_view kInvalidAttributeOperand = " Invalid Operand ";
inline constexpr std::string_view kInvalidLength = " Invalid Length ";
inline constexpr std::string_view kInvalidLengthSyntax = " Invalid Syntax L=";
inline constexpr std::string_view kInvalidFileSyntax = " Invalid F= Syntax";
// The value tokenizer's errors, the detail of " Invalid F=", " Invalid S=" and " Invalid V=".
inline constexpr std::string_view kMissingQuote = "Missing \"";
inline constexpr std::string_view kTooManyTokens = "Too many parameter's";
inline constexpr std::string_view kInvalidNumberToken = "Invalid Number";
inline constexpr std::string_view kInvalidOperatorToken = "Invalid Operand";

// The text with every quotation mark doubled, as texts stand between quotation marks in messages.
std::string DoubleQuotes(std::string_view text);

// What an evaluated rule line found wrong (a normal rule reports it when it fires).
std::string FileSizeFinding(int64_t size, std::string_view op, int32_t wanted);
std::string FileAttributeFinding(std::string_view actual,
                                 std::string_view op,
                                 std::string_view wanted);
std::string InvalidFileFinding(std::string_view file_name);
std::string OpenFailedFinding(std::string_view file_name, char open_mode);
std::string ReadFailedFinding(std::string_view file_name);
std::string NotFoundFinding(std::string_view search_text);
// The operator's KILL during a file check; the rule's RC becomes 0.
std::string RulesKilledFinding();
inline constexpr std::string_view kValueNotFound = "Value not found";
inline constexpr std::string_view kEmptyValues = "Empty values";
// A failed value comparison: the field (shown, quotes doubled) against a text or a number; several
// are joined by kComparisonJoin.
std::string TextComparisonFailed(std::string_view shown_field,
                                 std::string_view op,
                                 std::string_view wanted);
std::string NumberComparisonFailed(int32_t field, std::string_view op, int32_t wanted);
inline constexpr std::string_view kComparisonJoin = " + ";

// What a reverse rule reports when it fires: the file as it describes, or where the text was found
// (this one with a line end of its own).
std::string FoundFileText(std::string_view file_name);
std::string FoundPositionText(int64_t position, int64_t quantity);

// The job log's note for a found text (the bytes before it counted when `line` is given).
std::string FoundNote(std::string_view search_text,
                      std::string_view file_name,
                      int64_t byte_offset,
                      std::optional<int64_t> line,
                      std::optional<int64_t> column);

// A rule line that could not be evaluated: its number and the fault.
std::string RuleNotEvaluatedLine(int32_t line_number, std::string_view fault);

// ------------------------------------------------------------------------------ reading

// One line of a report text (without its line end), as the runner writes it. Lines are read
// whole and from their start: bytes inside a rule's line (a value a step wrote, a file name) are
// never read as another kind of line.
struct ReportLine {
  enum class Kind {
    kOther,         // nothing the runner writes on a line of its own (an empty line too)
    kAbendWarning,  // task_rc
    kMaximumRcZero,
    kNoConsole,
    kRcEnded,        // step_rc, maximum_rc
    kRcAbended,      // step_rc, maximum_rc
    kRcNotExecuted,  // step_rc, step_minimum_rc, step_maximum_rc, maximum_rc
    kInvalidLogon,
    kLaunchFailed,      // text (the command), status_text, code
    kOperator,          // operator_kind, process_id
    kRuleOutput,        // after_step, rule_line, rc, text (what follows the prefix)
    kRuleRejected,      // rule_line, text (the message and its detail)
    kRuleNotEvaluated,  // rule_line, text (the fault)
  };
  Kind kind = Kind::kOther;
  int32_t task_rc = 0;
  int32_t step_rc = 0;
  int32_t step_minimum_rc = 0;
  int32_t step_maximum_rc = 0;
  int32_t maximum_rc = 0;
  std::string text;
  std::string status_text;
  int32_t code = 0;
  OperatorCommandKind operator_kind = OperatorCommandKind::kUnknown;
  uint32_t process_id = 0;
  bool after_step = false;
  int32_t rule_line = 0;
  int32_t rc = 0;
};

[[nodiscard]] ReportLine ReadReportLine(std::string_view line);

// What a rule's output line says after its prefix.
struct RuleFinding {
  enum class Kind {
    kOther,           // a value comparison, or anything else (text holds it)
    kFoundPosition,   // position, quantity
    kFoundFile,       // file_name
    kNotFound,        // text (the search text, quotes single again)
    kFileSize,        // text (the finding as written)
    kFileAttributes,  // text
    kInvalidFile,     // file_name
    kOpenFailed,      // file_name
    kReadFailed,      // file_name
    kKilled,
    kValueNotFound,
    kEmptyValues,
  };
  Kind kind = Kind::kOther;
  int64_t position = 0;
  int64_t quantity = 0;
  std::string file_name;
  std::string text;
};

[[nodiscard]] RuleFinding ReadRuleFinding(std::string_view message);

// A job log line that notes a found text; nullopt for any other line.
struct FoundNoteLine {
  std::string search_text;
  std::string file_name;
  int64_t byte_offset = 0;
};
[[nodiscard]] std::optional<FoundNoteLine> ReadFoundNote(std::string_view line);

}  // namespace x5::protocol
