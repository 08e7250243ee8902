// How a final report reads.
#include "sequence/step_end.h"

#include "core/rc_rules.h"
#include "protocol/status_texts.h"

namespace x5::sequence {

FinalReading ReadFinalReport(std::string_view status_text,
                             char result_flag,
                             int32_t current_rc) noexcept {
  while (!status_text.empty() && status_text.back() == ' ')
    status_text.remove_suffix(1);
  const bool ran = status_text == protocol::kStatusStepOk;
  if (ran || status_text == protocol::kStatusNotRun) {
    if (result_flag == core::FlagByte(core::ResultFlag::kStopped))
      return {current_rc == 0 ? StepEnd::kEnded : StepEnd::kAbended, !ran};
    if (result_flag == core::FlagByte(core::ResultFlag::kGoesOn))
      return {ran ? StepEnd::kRan : StepEnd::kSkipped, !ran};
  } else if (status_text == protocol::kStatusNoCommand) {
    return {StepEnd::kNoCommand, true};
  }
  return {StepEnd::kFailed, !ran};
}

}  // namespace x5::sequence
