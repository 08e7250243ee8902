// Why a step ended as it did, told in plain words from what the runner sent (its final report and
// report text) and, when at hand, the step's saved job log and its task.
#pragma once

#include <string>
#include <string_view>

#include "conditions/rule_settings.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::step {

// What an explanation can use beside the runner's stream.
struct ExplainContext {
  std::string job_log;       // the console file's text; empty when not at hand
  std::string conditions;    // the task's conditions block as sent, for the rules' own texts
  std::string console_file;  // the task's console file, for a "FILE ?" end
  std::string console_file_problem;  // why x5ctl found it could not be written, when it knows
  bool fail_on_exit_code = false;    // a step whose main process failed counts as failed
};

// One paragraph, in the runner's ANSI bytes like the texts it is built from (convert with
// Utf8FromAnsi to print). Facts are taken only from what the runner alone writes (whole lines of
// its report text, the final report's fields); what the job log says, where the step writes too,
// is told as the job log's.
std::string ExplainStep(const text::RunnerStream& stream, const ExplainContext& context) noexcept;
std::string ExplainStep(const text::RunnerStream& stream, std::string_view job_log = {}) noexcept;

// Why the runner could not read the rule parameter where a rejected line stopped, or why it
// rejected the one it read; empty where its own message says it (a value it did not take).
[[nodiscard]] std::string RejectionReason(const conditions::RuleParameter& parameter);

// What a file that is not a capture of the runner's output looks like ("a task file", "what x5ctl
// sent to the runner", ...); empty when it reads as a capture.
[[nodiscard]] std::string NotACapture(std::string_view bytes);

}  // namespace x5::ctl::step
