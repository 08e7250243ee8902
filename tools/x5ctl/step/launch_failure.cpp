// The system codes a step's launch commonly fails with, in the system's words with a hint.
#include "x5ctl/step/launch_failure.h"

#include "commands/command_split.h"
#include "protocol/report_texts.h"
#include "protocol/status_texts.h"

namespace x5::ctl::step {
namespace {

struct KnownCode {
  int32_t code;
  const char* system_text;
  const char* hint;
};

// The texts are the system's own messages for these codes.
constexpr KnownCode kKnownCodes[] = {
    {2, "The system cannot find the file specified.",
     "the command's program was not found: check its first word, or give its full path"},
    {3, "The system cannot find the path specified.",
     "a folder in the program's path (or the working directory's) does not exist"},
    {5, "Access is denied.",
     "the step's user may not run the program or use the working directory"},
    {8, "Not enough memory resources are available to process this command.", ""},
    {87, "The parameter is incorrect.", "check the task's window and console geometry"},
    {193, "%1 is not a valid Win32 application.",
     "the command's first word names a file that is not a program this system runs"},
    {commands::kCommandTooLongCode, "The filename or extension is too long.",
     "the command line is longer than the system starts; shorten it, or pass the long part in a "
     "file"},
    {267, "The directory name is invalid.",
     "the task's working directory does not exist (or is not a folder): create it before the "
     "run, or correct working_directory"},
    {740, "The requested operation requires elevation.",
     "the program asks for administrator rights, which a step does not get"},
    {1314, "A required privilege is not held by the client.",
     "the runner's account lacks the right to start a process as another user"},
    {1326, "The user name or password is incorrect.", "check the task's user and password"},
};

}  // namespace

std::optional<LaunchFailure> LaunchFailureIn(const ReportRecord& final_report) {
  // The status field is binary and the runner's alone; the report text also carries bytes that
  // rules copied from files the step wrote, so only the line the runner appends last counts.
  const std::string status = protocol::Trimmed(final_report.report.status_text);
  if (!protocol::IsFinal(final_report.report.phase) ||
      (status != protocol::kStatusNotStarted && status != protocol::kStatusProfileFailed))
    return std::nullopt;
  // The runner ends its report text with that line and an empty one; the line is read by the
  // catalogue that writes it.
  std::string_view text = final_report.text;
  constexpr std::string_view kEnd = "\r\n\r\n";
  if (!text.ends_with(kEnd))
    return std::nullopt;
  text.remove_suffix(kEnd.size());
  const size_t start = text.rfind("\r\n");
  const protocol::ReportLine line =
      protocol::ReadReportLine(start == std::string_view::npos ? text : text.substr(start + 2));
  if (line.kind != protocol::ReportLine::Kind::kLaunchFailed ||
      protocol::Trimmed(line.status_text) != status)
    return std::nullopt;
  return LaunchFailure{status, line.code};
}

std::string LaunchCodeMeaning(int32_t code) {
  std::string text = "code " + std::to_string(code);
  for (const KnownCode& known : kKnownCodes) {
    if (known.code != code)
      continue;
    text += std::string(": ") + known.system_text;
    if (*known.hint != '\0')
      text += std::string(" (") + known.hint + ")";
  }
  return text;
}

std::string LaunchFailureSentence(const LaunchFailure& failure) {
  return "The step did not start (status \"" + failure.status + "\", " +
         LaunchCodeMeaning(failure.code) + ").";
}

}  // namespace x5::ctl::step
