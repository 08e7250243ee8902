// The job log as x5ctl prints it on Linux: any bytes the runner and the step wrote become UTF-8
// whose only control character is the line feed, one for each line end (CR LF or LF) of the
// bytes: no byte of a step can move the cursor or end a line of a terminal.
#include <algorithm>

#include "fuzz_check.h"
#include "x5ctl/host/job_log_path.h"
#include "x5ctl/text/ansi_text.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = x5::fuzz::Text(data, size);
  const std::string printed = x5::ctl::host::PrintableJobLog(bytes);
  Check(std::count(printed.begin(), printed.end(), '\n') ==
        std::count(bytes.begin(), bytes.end(), '\n'));
  Check(std::none_of(printed.begin(), printed.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && c != '\n') || b == 0x7F;
  }));
  Check(x5::ctl::text::AnsiFromUtf8(printed).ok());
  return 0;
}
