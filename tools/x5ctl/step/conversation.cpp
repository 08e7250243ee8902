// The conversation driver of `x5ctl run`.
#include "x5ctl/step/conversation.h"

#include <istream>
#include <ostream>
#include <string>
#include <thread>

#include "protocol/operator_commands.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::step {
namespace {

class Printer {
 public:
  Printer(const ConversationOptions& options, std::ostream& out, std::ostream& errors)
      : json_(options.json), out_(out), errors_(errors) {}

  void Status(const protocol::StatusRecord& status) {
    out_ << (json_ ? text::StatusJson(status) + "\n" : text::FormatStatus(status));
    out_.flush();
  }
  void Command(const std::string& name, int32_t argument) {
    out_ << (json_ ? text::CommandJson(name, argument) + "\n"
                   : text::FormatCommand(name, argument));
    out_.flush();
  }
  // Every report counts, so the numbers are the runner's; only shown ones are printed.
  void Report(const ReportRecord& report, bool shown = true) {
    ++reports_;
    if (!shown)
      return;
    out_ << (json_ ? text::ReportJson(report, reports_) + "\n"
                   : text::FormatReport(report, reports_));
    out_.flush();
  }
  void Note(const std::string& text) {
    if (!json_)
      out_ << text << "\n";
    out_.flush();
  }
  void Exit(int32_t code) {
    out_ << (json_ ? text::ExitJson(code) : "runner exit code " + std::to_string(code)) << "\n";
    out_.flush();
  }
  void Error(const std::string& message) {
    errors_ << text::ProblemLine(message);
    errors_.flush();
    if (json_) {
      out_ << text::ErrorJson(message) << "\n";
      out_.flush();
    }
  }

 private:
  bool json_;
  std::ostream& out_;
  std::ostream& errors_;
  size_t reports_ = 0;
};

void Pause(int64_t ms) {
  if (ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Reports that arrive after the input was closed, or unexpected bytes after the last report.
void PrintLeftovers(std::span<const uint8_t> bytes, Printer& printer) {
  if (bytes.empty())
    return;
  text::RunnerStream stream = text::DecodeReportStream(bytes);
  for (const ReportRecord& report : stream.reports)
    printer.Report(report);
  if (!stream.problem.empty())
    printer.Error(stream.problem);
}

ConversationEnd EndOf(SessionError error) {
  switch (error) {
    case SessionError::kTimedOut:
      return ConversationEnd::kTimedOut;
    case SessionError::kInterrupted:
      return ConversationEnd::kInterrupted;
    default:
      return ConversationEnd::kBrokeOff;
  }
}

ConversationResult& Fail(RunnerSession& session,
                         Printer& printer,
                         const std::string& what,
                         ConversationResult& result) {
  result.end = EndOf(session.LastErrorKind());
  result.problem = what + ": " + session.LastError();
  printer.Error(result.problem);
  session.Kill();
  return result;
}

void KeepIfFinal(const ReportRecord& report, ConversationResult& result) {
  if (protocol::IsFinal(report.report.phase))
    result.final_report = report;
}

}  // namespace

std::optional<text::OpStep> ListOpSource::Next() {
  if (next_ >= ops_.size())
    return std::nullopt;
  return ops_[next_++];
}

std::optional<text::OpStep> LineOpSource::Next() {
  std::string line;
  while (std::getline(in_, line)) {
    ++line_number_;
    core::Result<std::optional<text::OpStep>> parsed = text::ParseOpLine(line);
    if (!parsed) {
      errors_ << text::ProblemLine("standard input line " + std::to_string(line_number_) + ": " +
                                   parsed.failure().text + " (skipped)");
      errors_.flush();
      continue;
    }
    if (*parsed)
      return std::move(*parsed);
  }
  return std::nullopt;
}

ConversationResult RunConversation(RunnerSession& session,
                                   std::span<const uint8_t> task_stream,
                                   OpSource& ops,
                                   const ConversationOptions& options,
                                   std::ostream& out,
                                   std::ostream& errors) {
  Printer printer(options, out, errors);
  ConversationResult result;
  if (!session.SendBytes(task_stream)) {
    Fail(session, printer, "sending the task", result);
    if (result.end == ConversationEnd::kBrokeOff)
      result.end = ConversationEnd::kNotStarted;
    return result;
  }
  std::optional<protocol::StatusRecord> status = session.ReadStatus();
  if (!status) {
    Fail(session, printer, "reading the status record", result);
    if (result.end == ConversationEnd::kBrokeOff)
      result.end = ConversationEnd::kNotStarted;
    return result;
  }
  printer.Status(*status);

  bool finished = false;
  bool closed = false;
  while (!finished && !closed) {
    std::optional<text::OpStep> op = ops.Next();
    if (!op)
      break;
    Pause(op->delay_ms);
    if (op->kind == text::OpStep::Kind::kSleep)
      continue;
    if (op->kind == text::OpStep::Kind::kClose) {
      session.CloseInput();
      printer.Note("input closed");
      closed = true;
      break;
    }
    const bool shown = ops.Shown(*op);
    if (shown)
      printer.Command(op->name, op->argument);
    std::optional<ReportRecord> report = session.Exchange(op->name, op->argument);
    if (!report)
      return Fail(session, printer, "operator command " + protocol::Trimmed(op->name), result);
    printer.Report(*report, shown);
    KeepIfFinal(*report, result);
    ops.Answered(*report);
    finished = report->report.phase == protocol::Phase::kEndReceived;
  }
  if (finished && ops.Pending() > 0) {
    printer.Error("the runner has ended the conversation; " + std::to_string(ops.Pending()) +
                  " more commands are not sent");
  }

  // "END " during the step only ends the monitoring; the runner takes the next "END " once the
  // step is over, so keep asking until it answers from phase 5.
  for (int attempt = 0; !finished && !closed && attempt < options.end_attempts; ++attempt) {
    const std::string_view end = protocol::NameOf(protocol::OperatorCommandKind::kEnd);
    printer.Command(std::string(end), 0);
    std::optional<ReportRecord> report = session.Exchange(end, 0);
    if (!report)
      return Fail(session, printer, "operator command END", result);
    printer.Report(*report);
    KeepIfFinal(*report, result);
    finished = report->report.phase == protocol::Phase::kEndReceived;
  }
  if (!finished && !closed) {
    result.problem = "the runner did not end the conversation after " +
                     std::to_string(options.end_attempts) + " END commands";
    printer.Error(result.problem);
    session.Kill();
    return result;
  }

  session.CloseInput();
  std::optional<std::vector<uint8_t>> rest = session.ReadRemaining();
  if (!rest)
    return Fail(session, printer, "waiting for the runner to close its output", result);
  if (finished && !rest->empty())
    printer.Error(std::to_string(rest->size()) + " unexpected bytes after the final report");
  PrintLeftovers(*rest, printer);
  result.runner_exit_code = session.Wait();
  if (!result.runner_exit_code)
    return Fail(session, printer, "waiting for the runner to end", result);
  printer.Exit(*result.runner_exit_code);
  result.end = ConversationEnd::kCompleted;
  return result;
}

}  // namespace x5::ctl::step
