// Why a step ended as it did: the final report, the rule lines and return-code messages of its
// report text, the operator's commands and what the job log says was ended, in one paragraph.
#include "x5ctl/step/explain.h"

#include <charconv>
#include <regex>
#include <vector>

#include "protocol/status_texts.h"
#include "x5ctl/step/launch_failure.h"

namespace x5::ctl::step {
namespace {

struct FiredRule {
  bool after = false;
  int line = 0;
  int rc = 0;
  std::string message;
};

struct Reading {
  std::vector<FiredRule> fired;
  std::vector<std::string> rejected;  // "line 4 (Invalid R=100)"
  bool abend_mode = false;
  std::string task_rc;
  std::string rc_message;  // ENDED, ABENDED or NOT executed, as sent
  std::string rc_kind;
  std::string step_rc;  // as the RC message gives it
  std::string maximum_rc;
  std::string step_range;
  std::string killed_process;
  std::string check_killed_line;  // a rule line whose file check the operator killed
  int holds = 0;
  int resumes = 0;
  bool maximum_rc_zero = false;
  std::string launch_error;
};

// The runner writes these numbers itself; a text that is no 32-bit number counts as 0.
int Number(const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos)
      end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string Trim(std::string text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

Reading Read(std::string_view report_text) {
  static const std::regex kRule(R"(^([-+])(\d+) RC=(\d+) *(.*)$)");
  static const std::regex kRejected(R"(^(\d+) (Invalid.*)$)");
  static const std::regex kAbendMode(R"(ABEND MODE, Task RC= (-?\d+))");
  static const std::regex kOperator(R"(Task #(\d+) (HOLDED|RESUMED|KILLED) on user request)");
  static const std::regex kRc(
      R"(Task (ENDED as requested|Step ABENDED|Step NOT executed) \*+, Step RC=(-?\d+)(  / Step Min=(-?\d+) Max=(-?\d+))?  / Max RC=(-?\d+))");
  Reading r;
  for (const std::string& line : Lines(report_text)) {
    std::smatch m;
    if (std::regex_match(line, m, kRule)) {
      if (m[4].str().find("DezaVI KILLED") != std::string::npos)
        r.check_killed_line = m[2].str();
      r.fired.push_back(
          {m[1].str() == "+", Number(m[2].str()), Number(m[3].str()), Trim(m[4].str())});
    } else if (std::regex_match(line, m, kRejected)) {
      r.rejected.push_back("line " + m[1].str() + " (" + Trim(m[2].str()) + ")");
    } else if (std::regex_search(line, m, kAbendMode)) {
      r.abend_mode = true;
      r.task_rc = m[1].str();
    } else if (std::regex_search(line, m, kOperator)) {
      if (m[2].str() == "HOLDED")
        ++r.holds;
      else if (m[2].str() == "RESUMED")
        ++r.resumes;
      else
        r.killed_process = m[1].str();
    } else if (std::regex_search(line, m, kRc)) {
      r.rc_message = Trim(line);
      r.rc_kind = m[1].str();
      r.step_rc = m[2].str();
      if (m[4].matched)
        r.step_range = m[4].str() + " to " + m[5].str();
      r.maximum_rc = m[6].str();
    } else if (line.find("Maximum Return Code = 0") != std::string::npos) {
      r.maximum_rc_zero = true;
    } else if (line.find("INVALID LOGON") != std::string::npos ||
               line.find("***** Error - Command") != std::string::npos) {
      r.launch_error = Trim(line);
    }
  }
  return r;
}

// "Rule line 3 (before the step) set RC 8" and why, in words for what a reverse rule found.
std::string Describe(const FiredRule& rule) {
  static const std::regex kFoundText(R"re(^\*\*\* String Found at Position: (\d+) .*)re");
  static const std::regex kFoundFile(R"re(^File "(.*)" have requested attributes$)re");
  std::string why = ": " + rule.message;
  std::smatch m;
  if (std::regex_match(rule.message, m, kFoundText))
    why = ", having found its text at position " + m[1].str();
  else if (std::regex_match(rule.message, m, kFoundFile))
    why = ", having found " + m[1].str() + " as it describes";
  return "Rule line " + std::to_string(rule.line) + " (" + (rule.after ? "after" : "before") +
         " the step) set RC " + std::to_string(rule.rc) + why;
}

// The fired rule that left the step RC value at `value`: after the last rule that set 0, the
// first that raised it to the value (later ones with the same RC change nothing).
const FiredRule* Decider(const std::vector<FiredRule>& fired, int value) {
  size_t from = 0;
  for (size_t i = 0; i < fired.size(); ++i)
    if (fired[i].rc == 0 && fired[i].message.find("DezaVI KILLED") == std::string::npos)
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
    {protocol::kStatusConsoleFileFailed,
     "The step ran, but the runner could not write its console file", ")."},
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

std::string Quoted(std::string_view status) {
  return "(status \"" + std::string(status) + "\"";
}

std::string Opening(const std::string& status, const ReportRecord& last, const Reading& r) {
  if (status == protocol::kStatusStepOk)
    return r.killed_process.empty()
               ? "The step ran and its process ended " + Quoted(status) + ")."
               : "The step was killed: the operator ended it with KILL of process #" +
                     r.killed_process + " before it ended on its own " + Quoted(status) + ").";
  if (status == protocol::kStatusStepWaitFailed)
    return "The step ran, but waiting for its process failed " + Quoted(status) + ", code " +
           std::to_string(last.report.status_code) + ").";
  for (const StatusOpening& opening : kOpenings)
    if (status == opening.status)
      return std::string(opening.before) + " " + Quoted(status) + opening.after;
  return "The step ended with status \"" + status + "\".";
}

std::string Explain(const text::RunnerStream& stream, std::string_view job_log) {
  if (stream.reports.empty()) {
    return stream.status ? "The runner started (\"" + Trim(stream.status->status_text) +
                               "\") but sent no step report, so how the step ended is not known."
                         : "The runner sent nothing, so how the step ended is not known.";
  }
  const ReportRecord& last = stream.reports.back();
  const protocol::StepReport& report = last.report;
  const std::string status = Trim(report.status_text);
  const Reading r = Read(last.text);
  std::vector<std::string> sentences;

  if (!protocol::IsFinal(report.phase)) {
    sentences.push_back(
        "The conversation ended while the step was still going (the last report "
        "came from phase " +
        std::to_string(static_cast<int>(report.phase)) + ", status \"" + status +
        "\"), so this says how far it got.");
  } else {
    sentences.push_back(Opening(status, last, r));
  }
  if (r.abend_mode)
    sentences.push_back("The job was already in abend mode (task RC " + r.task_rc +
                        " above its maximum RC): the step RC value started at 1, the step's range "
                        "was tested against the task RC, and the final RC is at least " +
                        r.task_rc + ".");
  if (r.maximum_rc_zero)
    sentences.push_back("The report text says: ** ERROR - Maximum Return Code = 0 **.");
  if (!r.launch_error.empty())
    sentences.push_back("The runner said: " + r.launch_error +
                        (report.current_rc == 99 ? " (a current RC above 0 becomes 99)." : ""));
  if (const std::optional<LaunchFailure> failure = LaunchFailureIn(last))
    sentences.push_back("The system's reason: " + LaunchCodeMeaning(failure->code) + ".");

  for (const FiredRule& rule : r.fired) {
    if (rule.message.find("DezaVI KILLED") != std::string::npos)
      sentences.push_back("The operator killed the file check of rule line " +
                          std::to_string(rule.line) + ", which sets the step RC value to 0.");
    else
      sentences.push_back(Describe(rule) + ".");
  }
  if (!r.rejected.empty()) {
    std::string list;
    for (const std::string& rejected : r.rejected)
      list += (list.empty() ? "" : ", ") + rejected;
    sentences.push_back("Rejected rule lines changed nothing: " + list + ".");
  }
  if (r.holds > 0 || r.resumes > 0)
    sentences.push_back("The operator held the step " + std::to_string(r.holds) +
                        " time(s) and resumed it " + std::to_string(r.resumes) + " time(s).");
  if (!r.killed_process.empty())
    sentences.push_back("Because it was killed, the rules after the step were not evaluated.");

  if (!r.rc_kind.empty()) {
    const int value = Number(r.step_rc);
    const FiredRule* decider = Decider(r.fired, value);
    const std::string source =
        decider ? " (set by rule line " + std::to_string(decider->line) + ")" : std::string();
    if (r.rc_kind == "ENDED as requested")
      sentences.push_back("The return-code rules found step RC 0" + source +
                          ", so the job ends as requested: result flag \"-\".");
    else if (r.rc_kind == "Step ABENDED")
      sentences.push_back("The return-code rules found step RC " + r.step_rc + source +
                          " above the maximum RC " + r.maximum_rc +
                          ", so the step abended: result flag \"-\".");
    else
      sentences.push_back("The return-code rules found step RC " + r.step_rc + source +
                          " outside the step's range " + r.step_range + " (" + r.rc_message +
                          "), so the step counts as not executed.");
  } else if (protocol::IsFinal(report.phase) && !r.killed_process.empty()) {
    sentences.push_back("A killed step did not succeed, although its final report reads \"" +
                        status + "\" with result flag \"" + std::string(1, report.result_flag) +
                        "\": the RC is what the rules before the step left.");
  } else if (protocol::IsFinal(report.phase) &&
             (status == protocol::kStatusStepOk || status == protocol::kStatusConsoleFileFailed)) {
    const FiredRule* decider = Decider(r.fired, report.current_rc);
    sentences.push_back(
        "The return-code rules found the step RC value within the step's range, so the step "
        "succeeded" +
        (decider           ? " with the RC that rule line " + std::to_string(decider->line) + " set"
         : r.fired.empty() ? std::string(" with the RC the task gave it (no rule fired)")
                           : std::string()) +
        ".");
  }

  std::vector<std::string> ended;
  bool parent_gone = false;
  for (const std::string& line : Lines(job_log)) {
    if (line.starts_with("Ending process #")) {
      const std::string rest = line.substr(16);
      ended.push_back("#" + rest.substr(0, rest.find(',')));
    } else if (line.find("Parent pipe closed") != std::string::npos) {
      parent_gone = true;
    }
  }
  if (parent_gone)
    sentences.push_back(
        "The parent's pipe closed during the step, so the runner ended the step "
        "itself.");
  if (!ended.empty()) {
    std::string list;
    for (const std::string& process : ended)
      list += (list.empty() ? "" : ", ") + process;
    sentences.push_back("The job log names " + std::to_string(ended.size()) +
                        " process(es) the runner ended at the end of the job: " + list + ".");
  }
  if (protocol::IsFinal(report.phase))
    sentences.push_back("The parent got current RC " + std::to_string(report.current_rc) +
                        " with result flag \"" + std::string(1, report.result_flag) + "\".");

  std::string paragraph;
  for (const std::string& sentence : sentences)
    paragraph += (paragraph.empty() ? "" : " ") + sentence;
  return paragraph;
}

}  // namespace

std::string ExplainStep(const text::RunnerStream& stream, std::string_view job_log) noexcept {
  try {
    return Explain(stream, job_log);
  } catch (const std::exception& e) {
    return std::string("No explanation could be made: ") + e.what();
  } catch (...) {
    return "No explanation could be made.";
  }
}

}  // namespace x5::ctl::step
