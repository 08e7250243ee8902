// Values the main sequence derives from the task record: normalised limits and the console title.
#include "protocol/task_values.h"

namespace x5::protocol {

FileCheckLimits NormaliseFileCheckLimits(const TaskRecord& task) {
  FileCheckLimits limits;
  const int32_t size = task.file_buffer_size;
  limits.file_buffer_size = (size >= 1024 && size <= 65536) ? (size + 1023) / 1024 * 1024 : 4096;
  limits.check_interval = 131072 / limits.file_buffer_size;
  limits.line_limit = task.condition_line_limit >= 80 ? task.condition_line_limit : 256;
  limits.line_width = task.condition_line_width >= 80 ? task.condition_line_width : 0;
  return limits;
}

std::string BuildConsoleTitle(const TaskRecord& task) {
  return Trimmed(task.user_name) + "/" + Trimmed(task.job_name) + "." +
         std::to_string(task.job_number) + "." + std::to_string(task.step_number);
}

uint8_t EffectiveOsVersion(uint8_t reported, const std::string& program_files_x86) {
  return program_files_x86.size() >= 2 ? 64 : reported;
}

}  // namespace x5::protocol
