// The job log on Windows: read where it lies, its bytes shown as they are but for control
// characters.
#include "x5ctl/host/job_log_path.h"

namespace x5::ctl::host {

std::filesystem::path LocalPathOf(const std::string& windows_path, std::string_view) {
  return windows_path;
}

std::string PrintableJobLog(std::string_view bytes) {
  // What the step wrote is shown, never obeyed: control characters other than the line ends are
  // written as \xNN, so no escape sequence reaches the terminal.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\r' && c != '\n') || b == 0x7F) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace x5::ctl::host
