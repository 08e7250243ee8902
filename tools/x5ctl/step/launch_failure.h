// What a step that did not start says about why: the system code of a failed launch ("STEP=?",
// "LOGON ?", ...) found in the report text, in the system's words with a hint for the task's
// author.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "x5ctl/step/session.h"

namespace x5::ctl::step {

struct LaunchFailure {
  std::string status;  // the status text, trimmed ("STEP=?")
  int32_t code = 0;    // the system code the runner reported
};

// The launch failure a final report names: its status field says the launch failed ("STEP=?",
// "PROFILE?") and the runner's own line, the last of its report text, gives the system code
// ("***** Error - Command  "..."  STEP=?   RC=267 *****"). Nothing otherwise: a line of that form
// anywhere else in the text may have been copied there from a file the step wrote.
[[nodiscard]] std::optional<LaunchFailure> LaunchFailureIn(const ReportRecord& final_report);

// "code 267: The directory name is invalid. (hint)" for the codes a launch commonly fails with;
// "code N" with no words for others.
std::string LaunchCodeMeaning(int32_t code);

// One sentence about a failure: "The step did not start (status "STEP=?", code 267: ...)."
std::string LaunchFailureSentence(const LaunchFailure& failure);

}  // namespace x5::ctl::step
