// DIAG files: the running number and the file name in the job step's folder.
#include "runner/diag.h"

#include <limits>

namespace x5::runner {

int32_t NextDiagNumber(int32_t current, int32_t argument) noexcept {
  if (argument >= 0)
    return argument;
  return current == std::numeric_limits<int32_t>::max() ? current : current + 1;
}

std::optional<std::string> DiagFileName(const protocol::TaskRecord& task,
                                        const std::string& global_parameter_directory,
                                        int32_t diag_number) {
  if (protocol::Trimmed(task.console_file).empty() || global_parameter_directory.empty())
    return std::nullopt;
  return global_parameter_directory + "DIAG" + std::to_string(diag_number) + ".txt";
}

}  // namespace x5::runner
