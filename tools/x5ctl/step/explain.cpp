// Why a step ended as it did: the final report, the lines of its report text read through the
// runner's own catalogue of texts, the operator's commands and, as the job log's word, what the job
// log says was found and ended, in one paragraph.
#include "x5ctl/step/explain.h"

#include <algorithm>
#include <vector>

#include "conditions/rule_language.h"
#include "core/ascii_text.h"
#include "protocol/report_texts.h"
#include "protocol/status_texts.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/launch_failure.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::step {
namespace {

using Line = protocol::ReportLine;

struct FiredRule {
  bool after = false;
  int32_t line = 0;
  int32_t rc = 0;
  protocol::RuleFinding finding;
};

struct Reading {
  std::vector<FiredRule> fired;
  std::vector<Line> rejected;  // rejected or not evaluated
  std::optional<Line> abend_mode;
  std::optional<Line> rc_message;
  std::optional<Line> launch_failed;  // also the INVALID LOGON line
  std::optional<uint32_t> killed_process;
  std::optional<int32_t> killed_check_line;  // a rule line whose file check the operator killed
  int holds = 0;
  int resumes = 0;
  bool maximum_rc_zero = false;
};

// The report text, a whole line at a time, each line taken only for what it says from its start.
Reading Read(std::string_view report_text) {
  Reading r;
  for (const std::string& text : text::CrLfLines(report_text)) {
    const Line line = protocol::ReadReportLine(text);
    switch (line.kind) {
      case Line::Kind::kRuleOutput: {
        FiredRule rule{line.after_step, line.rule_line, line.rc,
                       protocol::ReadRuleFinding(line.text)};
        if (rule.finding.kind == protocol::RuleFinding::Kind::kKilled)
          r.killed_check_line = line.rule_line;
        r.fired.push_back(std::move(rule));
        break;
      }
      case Line::Kind::kRuleRejected:
      case Line::Kind::kRuleNotEvaluated:
        r.rejected.push_back(line);
        break;
      case Line::Kind::kAbendWarning:
        r.abend_mode = line;
        break;
      case Line::Kind::kOperator:
        if (line.operator_kind == protocol::OperatorCommandKind::kHold)
          ++r.holds;
        else if (line.operator_kind == protocol::OperatorCommandKind::kResume)
          ++r.resumes;
        else
          r.killed_process = line.process_id;
        break;
      case Line::Kind::kRcEnded:
      case Line::Kind::kRcAbended:
      case Line::Kind::kRcNotExecuted:
        r.rc_message = line;
        break;
      case Line::Kind::kMaximumRcZero:
        r.maximum_rc_zero = true;
        break;
      case Line::Kind::kInvalidLogon:
      case Line::Kind::kLaunchFailed:
        r.launch_failed = line;
        break;
      case Line::Kind::kNoConsole:
      case Line::Kind::kOther:
        break;
    }
  }
  return r;
}

// What the job log says, where the runner and the step both write: told as the job log's word.
struct JobLog {
  std::vector<protocol::FoundNoteLine> found;
  std::vector<std::string> ended;  // "#400 child.exe"
  bool parent_gone = false;
};

JobLog ReadJobLog(std::string_view text) {
  JobLog log;
  for (const std::string& line : text::CrLfLines(text)) {
    if (std::optional<protocol::FoundNoteLine> note = protocol::ReadFoundNote(line)) {
      log.found.push_back(std::move(*note));
    } else if (line.starts_with("Ending process #")) {
      const std::string rest = line.substr(16);
      log.ended.push_back("#" + rest.substr(0, rest.find(',')));
    } else if (line.find("Parent pipe closed") != std::string::npos) {
      log.parent_gone = true;
    }
  }
  return log;
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// The rule line as the task wrote it, numbered as the runner numbers the lines.
std::string RuleText(std::string_view conditions, int32_t number) {
  if (conditions.empty() || number < 1)
    return {};
  const std::vector<std::string> lines = text::CrLfLines(conditions);
  if (static_cast<size_t>(number) > lines.size())
    return {};
  return lines[static_cast<size_t>(number) - 1];
}

// "Rule line 3 (before the step, R=R8 F=... S=ERROR) set RC 8" and why, with where the job log
// noted the text was found.
std::string Describe(const FiredRule& rule,
                     std::string_view conditions,
                     std::vector<protocol::FoundNoteLine>& notes) {
  using K = protocol::RuleFinding::Kind;
  const std::string written = RuleText(conditions, rule.line);
  std::string sentence =
      "Rule line " + std::to_string(rule.line) + " (" + (rule.after ? "after" : "before") +
      " the step" + (written.empty() ? "" : ", " + written) + ") set RC " + std::to_string(rule.rc);
  const protocol::RuleFinding& f = rule.finding;
  switch (f.kind) {
    case K::kFoundPosition: {
      sentence += ": it found its text at position " + std::to_string(f.position);
      // The job log notes every found text in the order the rules ran; the first not yet used
      // at that position is this rule's.
      const auto note = std::find_if(notes.begin(), notes.end(), [&](const auto& n) {
        return n.byte_offset == f.position - 1;
      });
      if (note != notes.end()) {
        sentence += " (the job log says: " + Quoted(note->search_text) + " in " + note->file_name +
                    ", byte offset " + std::to_string(note->byte_offset) + ")";
        notes.erase(note);
      }
      return sentence;
    }
    case K::kFoundFile:
      return sentence + ": it found " + f.file_name + " as it describes";
    case K::kNotFound:
      return sentence + ": its text " + Quoted(f.text) + " was not found";
    case K::kInvalidFile:
      return sentence + ": " + f.file_name + " does not exist (or cannot be seen by the runner)";
    case K::kOpenFailed:
      return sentence + ": " + f.file_name +
             " could not be opened (another process may hold it open)";
    case K::kReadFailed:
      return sentence + ": " + f.file_name + " could not be read";
    case K::kValueNotFound:
      return sentence + ": the field its V= compares lies beyond the end of the file";
    case K::kEmptyValues:
      return sentence + ": its V= values are empty, so nothing was compared";
    default:
      return sentence + ": it reported " + Quoted(f.text);
  }
}

// What a rejection message means, for the messages whose words alone do not say it.
std::string Meaning(std::string_view message) {
  if (message.starts_with(protocol::kInvalidCommand))
    return "the runner could not read a parameter there: a parameter is one letter, \"=\" and a "
           "value, a \"(\" must be closed by \")\", and a line must not end in an opening "
           "quotation mark; the character after \"Invalid Command\" is where it stopped, or the "
           "parameter whose letter it does not know";
  if (message.starts_with(protocol::kInvalidRc))
    return "R= takes a number from 0 to 99, with a capital R before it for a reverse rule";
  if (message.find(protocol::kMissingQuote) != std::string_view::npos)
    return "a quotation mark at the end of the value opens a text that is never closed";
  if (message.find(protocol::kTooManyTokens) != std::string_view::npos)
    return "the value holds more than 7 parts";
  return {};
}

// Where a rejected line stopped, read from the rule's own text by the runner's parser: the word,
// its column and why, when the runner's message does not say it.
struct Stop {
  std::string where;
  std::string why;
};

Stop WhereRejected(std::string_view written) {
  if (written.empty())
    return {};
  conditions::RuleSettings settings;
  const core::Result<conditions::ParsedRuleLine> parsed =
      conditions::ParseRuleLine(settings, written, 1, conditions::AsciiCaseMap());
  if (!parsed || parsed->end != conditions::LineParse::kRejected || parsed->parameters.empty())
    return {};
  const conditions::RuleParameter& at = parsed->parameters.back();
  const std::string why = RejectionReason(at);
  if (why.empty())
    return {};
  return {"the word " + Quoted(conditions::WordAt(written, at.column)) + " at column " +
              std::to_string(at.column),
          why};
}

// The fired rule that left the step RC value at `value`: after the last rule that set 0, the
// first that raised it to the value (later ones with the same RC change nothing).
const FiredRule* Decider(const std::vector<FiredRule>& fired, int32_t value) {
  size_t from = 0;
  for (size_t i = 0; i < fired.size(); ++i)
    if (fired[i].rc == 0 && fired[i].finding.kind != protocol::RuleFinding::Kind::kKilled)
      from = i;
  const FiredRule* zero = nullptr;
  if (!fired.empty() && fired[from].rc == 0)
    zero = &fired[from];
  if (value == 0)
    return zero;
  for (size_t i = zero ? from + 1 : 0; i < fired.size(); ++i)
    if (fired[i].rc == value)
      return &fired[i];
  return nullptr;
}

// How a final report's status opens the explanation: "<before> (status "<status>"<after>".
struct StatusOpening {
  std::string_view status;
  const char* before;
  const char* after;
};

constexpr StatusOpening kOpenings[] = {
    {protocol::kStatusNotRun, "The step did not run",
     "): the return-code rules before the launch said so."},
    {protocol::kStatusNoCommand, "The step did not run",
     "): no command line was left after the switches and variables."},
    {protocol::kStatusMaximumRcZero, "The step did not run",
     "): the task's maximum RC is 0, which the runner refuses."},
    {protocol::kStatusNoConsole, "The step did not run",
     "): the runner could not open its console."},
    {protocol::kStatusLogonFailed, "The launch failed",
     "): the step's user could not be logged on."},
    {protocol::kStatusProfileFailed, "The launch failed",
     "): the user's profile could not be loaded."},
    {protocol::kStatusNotStarted, "The launch failed",
     "): the step's process could not be started."},
};

std::string StatusOf(std::string_view status) {
  return "(status \"" + std::string(status) + "\"";
}

std::string Opening(const std::string& status,
                    const ReportRecord& last,
                    const Reading& r,
                    const ExplainContext& context) {
  if (status == protocol::kStatusStepOk)
    return r.killed_process ? "The step was killed: the operator ended it with KILL of process #" +
                                  std::to_string(*r.killed_process) +
                                  " before it ended on its own " + StatusOf(status) + ")."
                            : "The step ran and its process ended " + StatusOf(status) + ").";
  if (status == protocol::kStatusStepWaitFailed)
    return "The step ran, but waiting for its process failed " + StatusOf(status) + ", code " +
           std::to_string(last.report.status_code) + "), so it counts as failed.";
  if (status == protocol::kStatusConsoleFileFailed) {
    std::string why = !context.console_file_problem.empty()
                          ? context.console_file_problem
                          : "its folder does not exist, or the runner's account may not write "
                            "there";
    return "The step ran, but the runner could not write its console file" +
           (context.console_file.empty() ? std::string() : " " + context.console_file) + " " +
           StatusOf(status) + "): " + why + "; the step counts as failed, and its job log is lost.";
  }
  for (const StatusOpening& opening : kOpenings)
    if (status == opening.status)
      return std::string(opening.before) + " " + StatusOf(status) + opening.after;
  return "The step ended with status \"" + status + "\".";
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts)
    out += (out.empty() ? "" : ", ") + part;
  return out;
}

std::string Explain(const text::RunnerStream& stream, const ExplainContext& context) {
  if (stream.reports.empty()) {
    return stream.status
               ? "The runner started (\"" + protocol::Trimmed(stream.status->status_text) +
                     "\") but sent no step report, so how the step ended is not known."
               : "The runner sent nothing, so how the step ended is not known.";
  }
  const ReportRecord& last = stream.reports.back();
  const protocol::StepReport& report = last.report;
  const std::string status = protocol::Trimmed(report.status_text);
  const Reading r = Read(last.text);
  JobLog log = ReadJobLog(context.job_log);
  const bool final = protocol::IsFinal(report.phase);
  std::vector<std::string> sentences;

  if (!final) {
    sentences.push_back(
        "The conversation ended while the step was still going (the last report came from "
        "phase " +
        std::to_string(static_cast<int>(report.phase)) + ", status \"" + status +
        "\"), so this says how far it got.");
  } else {
    sentences.push_back(Opening(status, last, r, context));
  }
  if (r.abend_mode)
    sentences.push_back("The job was already in abend mode (task RC " +
                        std::to_string(r.abend_mode->task_rc) +
                        " above its maximum RC): the step RC value started at 1, the step's range "
                        "was tested against the task RC, and the final RC is at least " +
                        std::to_string(r.abend_mode->task_rc) + ".");
  if (r.maximum_rc_zero)
    sentences.push_back("The report text says: " + std::string(protocol::kMaximumRcZeroMessage) +
                        ".");
  if (r.launch_failed) {
    if (r.launch_failed->kind == Line::Kind::kInvalidLogon) {
      std::string said(protocol::kInvalidLogonMessage);
      said.resize(said.size() - 2);
      sentences.push_back("The runner said: " + said +
                          (report.current_rc == 99 ? " (a current RC above 0 becomes 99)." : ""));
    } else {
      sentences.push_back("The runner could not start " + Quoted(r.launch_failed->text) +
                          " (status \"" + protocol::Trimmed(r.launch_failed->status_text) +
                          "\"); the system's reason: " + LaunchCodeMeaning(r.launch_failed->code) +
                          ".");
    }
  }

  for (const FiredRule& rule : r.fired) {
    if (rule.finding.kind == protocol::RuleFinding::Kind::kKilled)
      sentences.push_back("The operator killed the file check of rule line " +
                          std::to_string(rule.line) + ", which sets the step RC value to 0.");
    else
      sentences.push_back(Describe(rule, context.conditions, log.found) + ".");
  }
  for (const Line& rejected : r.rejected) {
    const std::string written = RuleText(context.conditions, rejected.rule_line);
    const Stop stop = WhereRejected(written);
    const std::string meaning = stop.why.empty() ? Meaning(rejected.text) : stop.why;
    sentences.push_back("Rule line " + std::to_string(rejected.rule_line) +
                        (written.empty() ? "" : " (" + written + ")") +
                        (rejected.kind == Line::Kind::kRuleNotEvaluated
                             ? " was not evaluated ("
                             : " was rejected and changed nothing (") +
                        rejected.text.substr(rejected.text.find_first_not_of(' ')) + ")" +
                        (stop.where.empty() ? "" : " at " + stop.where) +
                        (meaning.empty() ? "" : ": " + meaning) + ".");
  }
  if (r.holds > 0 || r.resumes > 0)
    sentences.push_back("The operator held the step " + std::to_string(r.holds) +
                        " time(s) and resumed it " + std::to_string(r.resumes) + " time(s).");
  if (r.killed_process)
    sentences.push_back("Because it was killed, the rules after the step were not evaluated.");

  const std::optional<uint32_t> exit_code = StepExitCodeOf(report);
  const bool failed_by_exit_code = context.fail_on_exit_code && exit_code && *exit_code != 0 &&
                                   OutcomeOfFinalReport(report).status == kExecSucceeded;
  if (r.rc_message) {
    const Line& m = *r.rc_message;
    const FiredRule* decider = Decider(r.fired, m.step_rc);
    const std::string source =
        decider ? " (set by rule line " + std::to_string(decider->line) + ")" : std::string();
    if (m.kind == Line::Kind::kRcEnded)
      sentences.push_back("The return-code rules found step RC 0" + source +
                          ", so the job ends as requested: result flag \"-\".");
    else if (m.kind == Line::Kind::kRcAbended)
      // Outside abend mode the task's RC is never above the maximum: without a rule that set it,
      // a failed switch (SET, replace) raised it.
      sentences.push_back(
          "The return-code rules found step RC " + std::to_string(m.step_rc) + source +
          " above the maximum RC " + std::to_string(m.maximum_rc) +
          ", so the step abended: result flag \"-\"" +
          (decider ? std::string(".")
                   : ". No rule set it, so a switch that failed raised it (a failed SET or "
                     "replace raises the step RC value above the step's range; the job log says "
                     "which)."));
    else
      sentences.push_back(
          "The return-code rules found step RC " + std::to_string(m.step_rc) + source +
          " outside the step's range " + std::to_string(m.step_minimum_rc) + " to " +
          std::to_string(m.step_maximum_rc) + ", so the step counts as not executed.");
  } else if (final && r.killed_process) {
    sentences.push_back("A killed step did not succeed, although its final report reads \"" +
                        status + "\" with result flag \"" + std::string(1, report.result_flag) +
                        "\": the RC is what the rules before the step left.");
  } else if (final && status == protocol::kStatusStepOk && !failed_by_exit_code) {
    const FiredRule* decider = Decider(r.fired, report.current_rc);
    sentences.push_back(
        "The return-code rules found the step RC value within the step's range, so the step "
        "succeeded" +
        (decider           ? " with the RC that rule line " + std::to_string(decider->line) + " set"
         : r.fired.empty() ? std::string(" with the RC the task gave it (no rule fired)")
                           : std::string()) +
        ".");
  }
  if (exit_code && final && !r.killed_process) {
    if (failed_by_exit_code)
      sentences.push_back("Its main process exited with code " + std::to_string(*exit_code) +
                          ", so with --fail-on-exit-code the step failed by its exit code, "
                          "although the return-code rules let the job go on.");
    else if (*exit_code != 0)
      sentences.push_back("Its main process exited with code " + std::to_string(*exit_code) +
                          ", which the return-code rules do not look at.");
  }

  if (log.parent_gone)
    sentences.push_back(
        "The job log says the parent's pipe closed during the step, so the "
        "runner ended the step itself.");
  if (!log.ended.empty())
    sentences.push_back(
        "The job log names " + std::to_string(log.ended.size()) +
        " process(es) the runner ended at the end of the job: " + Joined(log.ended) + ".");
  if (final)
    sentences.push_back("The parent got current RC " + std::to_string(report.current_rc) +
                        " with result flag \"" + std::string(1, report.result_flag) + "\".");

  std::string paragraph;
  for (const std::string& sentence : sentences)
    paragraph += (paragraph.empty() ? "" : " ") + sentence;
  return paragraph;
}

}  // namespace

std::string ExplainStep(const text::RunnerStream& stream, const ExplainContext& context) noexcept {
  try {
    return Explain(stream, context);
  } catch (const std::exception& e) {
    return std::string("No explanation could be made: ") + e.what();
  } catch (...) {
    return "No explanation could be made.";
  }
}

std::string ExplainStep(const text::RunnerStream& stream, std::string_view job_log) noexcept {
  ExplainContext context;
  context.job_log = std::string(job_log);
  return ExplainStep(stream, context);
}

// Why the rule code could not read a parameter where it stopped, or why it rejected the one it
// read; empty where the runner's own message says it.
std::string RejectionReason(const conditions::RuleParameter& p) {
  switch (p.fault) {
    case conditions::ParameterFault::kTooShort:
      return "too short to be a parameter: a parameter is one letter, \"=\" and a value";
    case conditions::ParameterFault::kNoEquals:
      return "not a parameter: a parameter is one letter, \"=\" and a value, and a blank ends a "
             "value unless it stands in parentheses or quotation marks";
    case conditions::ParameterFault::kOpenParenthesis:
      return "its \"(\" is never closed by \")\"";
    case conditions::ParameterFault::kEndsInQuote:
      return "the line ends in an opening quotation mark";
    case conditions::ParameterFault::kNoValue:
      return "no value after its \"=\": a blank ends a value unless it stands in parentheses or "
             "quotation marks";
    case conditions::ParameterFault::kNone:
      break;
  }
  if (conditions::kParameterLetters.find(core::UpperAscii(p.Letter())) != std::string_view::npos)
    return {};
  std::string letters;
  for (size_t i = 0; i < conditions::kParameterLetters.size(); ++i)
    letters += std::string(i == 0                                          ? ""
                           : i + 1 == conditions::kParameterLetters.size() ? " and "
                                                                           : ", ") +
               conditions::kParameterLetters[i];
  return "\"" + std::string(1, p.Letter()) + "\" is not a parameter letter (" + letters + " are)";
}

std::string NotACapture(std::string_view bytes) {
  constexpr size_t kStatusTextAt = 16;
  if (bytes.size() >= protocol::kStatusRecordSize &&
      bytes.substr(kStatusTextAt, 8) == protocol::kStatusStarted)
    return {};
  if (bytes.empty())
    return "an empty file";
  const std::string_view head = bytes.substr(0, 512);
  const bool text = std::all_of(head.begin(), head.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 || c == '\n' || c == '\r' || c == '\t';
  });
  if (text) {
    const std::string first(head.substr(0, head.find_first_of("\r\n")));
    const bool task = head.find("command") != std::string_view::npos ||
                      head.find("job_name") != std::string_view::npos;
    return std::string(task ? "a task file" : "text") + ", not what a runner sent: it begins " +
           Quoted(text::VisibleText(first.substr(0, 60)));
  }
  const text::ParentStream sent = text::DecodeParentStream(
      std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  if (sent.task && sent.problem.empty() && sent.trailing == 0)
    return "what was sent to a runner (x5ctl run --capture-input), not what the runner sent";
  return "binary data that does not begin with the runner's \"Started \" record";
}

}  // namespace x5::ctl::step
