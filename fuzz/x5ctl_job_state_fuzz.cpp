// A job's state file as x5ctl reads it: it lies in a folder others may write, so any bytes are
// either refused or read into a state that writes back as it was read, and whose table and outcome
// show no control character and never crash.
#include "fuzz_check.h"
#include "x5ctl/job/job_state.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const x5::core::Result<x5::ctl::job::JobState> state =
      x5::ctl::job::ParseStateText(x5::fuzz::Text(data, size), "state");
  if (!state)
    return 0;
  const std::string written = x5::ctl::job::StateText(*state);
  const x5::core::Result<x5::ctl::job::JobState> again =
      x5::ctl::job::ParseStateText(written, "state");
  Check(again.ok() && x5::ctl::job::StateText(*again) == written);
  for (const char c : x5::ctl::job::FormatTable(*state))
    Check(c == '\n' || (static_cast<uint8_t>(c) >= 0x20 && c != 0x7F));
  (void)x5::ctl::job::JobOutcome(*state);
  return 0;
}
