// Fuzzes x5ctl explain's reading of what a runner sent: the capture decoder, the report text and
// the job log read a whole line at a time through the runner's catalogue, the rules' own texts
// read by the rule code's parameter reader, and the test of whether a file is a capture. The same
// bytes serve as capture, job log and rules. Nothing may crash, recurse per byte (a 50,000-byte
// line is in the corpus) or throw: an explanation that could not be made says so, and fails here.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_check.h"
#include "protocol/report_texts.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/text/format.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = x5::fuzz::Text(data, size);
  x5::ctl::step::ExplainContext context;
  context.job_log = bytes;
  context.conditions = bytes;
  context.console_file = "C:\\x\\console.txt";
  context.fail_on_exit_code = size % 2 == 1;
  const x5::ctl::text::RunnerStream stream =
      x5::ctl::text::DecodeRunnerStream(std::span<const uint8_t>(data, size));
  const std::string paragraph = x5::ctl::step::ExplainStep(stream, context);
  Check(!paragraph.starts_with("No explanation could be made"));
  (void)x5::ctl::step::NotACapture(bytes);
  for (const x5::ctl::step::ReportRecord& report : stream.reports) {
    const x5::protocol::ReportLine line = x5::protocol::ReadReportLine(report.text);
    // Whatever a rule line holds after its prefix, it is read as that rule's.
    if (report.text.size() >= 12 && (report.text[0] == '-' || report.text[0] == '+') &&
        line.kind != x5::protocol::ReportLine::Kind::kRuleOutput)
      Check(line.kind == x5::protocol::ReportLine::Kind::kOther);
  }
  return 0;
}
