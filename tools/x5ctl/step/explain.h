// Why a step ended as it did, told in plain words from what the runner sent (its final report and
// report text) and, when at hand, the step's saved job log.
#pragma once

#include <string>
#include <string_view>

#include "x5ctl/text/format.h"

namespace x5::ctl::step {

// One paragraph, in the runner's ANSI bytes like the texts it is built from (convert with
// Utf8FromAnsi to print). `job_log` is the console file's text, or empty when it is not at hand.
std::string ExplainStep(const text::RunnerStream& stream, std::string_view job_log = {}) noexcept;

}  // namespace x5::ctl::step
