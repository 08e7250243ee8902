// The report text as x5ctl reads it for its own findings: a failed launch is taken only from a
// final report whose status says so and from the runner's own last line, whatever bytes the
// rules copied into the text before it; and no reading recurses per byte (a long line is fine).
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "x5ctl/step/launch_failure.h"
#include "x5ctl/text/ansi_text.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const char* const statuses[] = {"STEP=?", "PROFILE?", "LOGON ?", "STEP OK", "FILE ?"};
  x5::ctl::step::ReportRecord report;
  report.report.status_text =
      x5::protocol::Padded(statuses[in.ConsumeIntegralInRange<size_t>(0, 4)], 8);
  report.report.phase = static_cast<x5::protocol::Phase>(in.ConsumeIntegralInRange<uint8_t>(0, 5));
  report.text = in.ConsumeRemainingBytesAsString();
  const std::optional<x5::ctl::step::LaunchFailure> failure =
      x5::ctl::step::LaunchFailureIn(report);
  if (failure) {
    // The reference: a final report of a failed launch whose text ends with the runner's suffix.
    const std::string status = x5::protocol::Trimmed(report.report.status_text);
    Check(x5::protocol::IsFinal(report.report.phase) &&
          (status == "STEP=?" || status == "PROFILE?"));
    Check(failure->status == status);
    const std::string suffix = "\"  " + report.report.status_text +
                               " RC=" + std::to_string(failure->code) + " *****\r\n\r\n";
    Check(report.text.size() >= suffix.size() &&
          report.text.compare(report.text.size() - suffix.size(), suffix.size(), suffix) == 0);
  }
  // What x5ctl shows of such text stays one line.
  const std::string shown = x5::ctl::text::TerminalText(x5::ctl::text::VisibleText(report.text));
  for (const char c : shown)
    Check(static_cast<uint8_t>(c) >= 0x20 && c != 0x7F);
  return 0;
}
