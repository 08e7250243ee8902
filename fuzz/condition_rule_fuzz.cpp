// Fuzzes condition rule texts end to end: both passes over in-memory files, with small buffers,
// short windows and kills, must never crash, hang or read outside a buffer, and every output line
// must end in CR LF.
#include "conditions/testing/rule_harness.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4)
    return 0;
  x5::conditions::RuleHarness h;
  h.context.limits.file_buffer_size = 1 + data[0] % 128;
  h.context.limits.line_width = data[1] % 2 ? 80 + data[1] : 0;
  h.context.limits.line_limit = 1 + data[2];
  h.context.first_read_bytes = 1 + data[3] % 64;
  h.context.largest_read_bytes = 64;
  h.pacer.stop_at = data[3] & 0x80 ? data[3] % 16 : -1;
  const std::string rest = x5::fuzz::Text(data, size, 4);
  // The rule text, then (after a NUL) the content of A.LOG.
  const size_t split = rest.find('\0');
  const std::string rules = rest.substr(0, split);
  const std::string content =
      split == std::string::npos ? "ERRORS:  0\nDONE 12" : rest.substr(split + 1);
  h.files.Add("A.LOG", content);
  h.files.Add("B.LOG", std::string(300, 'b') + "ERROR 42\n");
  h.files.files["B.LOG"].facts.read_only = true;
  h.files.Add("W.LOG", "busy");
  h.files.files["W.LOG"].open_fails = true;
  for (int pass : {x5::conditions::kPassBeforeStep, x5::conditions::kPassAfterStep}) {
    const std::string out = h.Run(pass, rules);
    Check(out.empty() || out.ends_with("\r\n"));
    Check(h.rc.step_rc_value >= 0 && h.rc.step_rc_value <= 99);
  }
  return 0;
}
