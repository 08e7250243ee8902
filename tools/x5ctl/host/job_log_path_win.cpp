// The job log on Windows: read where it lies, its bytes shown as they are.
#include "x5ctl/host/job_log_path.h"

namespace x5::ctl::host {

std::filesystem::path LocalPathOf(const std::string& windows_path, std::string_view) {
  return windows_path;
}

std::string PrintableJobLog(std::string_view bytes) {
  return std::string(bytes);
}

}  // namespace x5::ctl::host
