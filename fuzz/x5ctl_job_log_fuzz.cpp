// The job log as x5ctl prints it on Linux: any bytes the runner and the step wrote become UTF-8
// with LF line ends that converts back to exactly those bytes, CR LF pairs aside.
#include "fuzz_check.h"
#include "x5ctl/host/job_log_path.h"
#include "x5ctl/text/ansi_text.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = x5::fuzz::Text(data, size);
  const std::string printed = x5::ctl::host::PrintableJobLog(bytes);
  std::string expected;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
      expected += bytes[i];
  }
  const x5::core::Result<std::string> back = x5::ctl::text::AnsiFromUtf8(printed);
  Check(back.ok() && *back == expected);
  return 0;
}
