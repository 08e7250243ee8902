// How a step ended, read from what its final report says (status text, result flag, current RC):
// the one reading that x5ctl's exit statuses and the check's predicted outcome both take.
#pragma once

#include <cstdint>
#include <string_view>

namespace x5::sequence {

enum class StepEnd {
  kRan,        // "STEP OK", flag "+": the step ran and the job goes on
  kEnded,      // flag "-" with current RC 0: the job ends as requested
  kAbended,    // flag "-" with another RC: the RC is above the maximum RC
  kSkipped,    // "RC <>", flag "+": the RC lies outside the step's range
  kNoCommand,  // "Null CMD": no command line was left
  kFailed,     // any other status: the step could not run, or its end is in doubt
};

struct FinalReading {
  StepEnd end = StepEnd::kFailed;
  bool before_step = false;  // decided before the launch ("RC <>"), not after the step
};

// The status text decides first (trimmed or padded), then the flag and the RC.
[[nodiscard]] FinalReading ReadFinalReport(std::string_view status_text,
                                           char result_flag,
                                           int32_t current_rc) noexcept;

}  // namespace x5::sequence
