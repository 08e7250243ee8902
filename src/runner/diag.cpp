// DIAG files: the running number and the file name in the job step's folder.
#include "runner/diag.h"

#include <limits>

namespace x5 {

int32_t NextDiagNumber(int32_t current, int32_t argument) noexcept {
  if (argument >= 0)
    return argument;
  return current == std::numeric_limits<int32_t>::max() ? current : current + 1;
}

std::optional<std::string> DiagFileName(const TaskRecord& task, int32_t diag_number) {
  if (Trimmed(task.console_file).empty())
    return std::nullopt;
  std::string name = Trimmed(task.job_base_directory);
  name += Trimmed(task.job_name);
  name += '\\';
  name += Trimmed(task.step_directory);
  name += "\\DIAG";
  name += std::to_string(diag_number);
  name += ".txt";
  return name;
}

}  // namespace x5
