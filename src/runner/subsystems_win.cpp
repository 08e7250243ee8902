// The points where the main sequence, the launch and the job log call the other subsystems.
#include "runner/subsystems_win.h"

#include "runner/run_win.h"

namespace x5 {

void SetStepVariables(Run& run) {
  const TaskRecord& t = run.task;
  run.global_parameter_directory = GlobalParameterDirectory(t);
  const std::string job_directory = Trimmed(t.job_base_directory) + Trimmed(t.job_name) + "\\";
  (void)AddVariable(run, "X5S", run.global_parameter_directory);
  (void)AddVariable(run, "X5T", job_directory);
  (void)AddVariable(run, "X5N", std::to_string(t.job_number));
  (void)AddVariable(run, "X5D", Trimmed(t.step_directory));
  (void)AddVariable(run, "X5Step", std::to_string(t.step_number));
  (void)AddVariable(run, "X5User", Trimmed(t.user_name));
  (void)AddVariable(run, "X5Name", Trimmed(t.job_name));
  (void)AddVariable(run, "X5RepC", std::to_string(t.repeat_count));
  (void)AddVariable(run, "X5Max", std::to_string(t.maximum_rc));
  (void)AddVariable(run, "X5TRC", std::to_string(t.task_rc));
  (void)AddVariable(run, "X5W", ExpandVariables(run, Trimmed(t.working_directory), false, false));
}

std::string ExpandVariables(Run&, std::string_view text, bool, bool) {
  return std::string(text);
}

int32_t AddVariable(Run& run, std::string_view name, std::string_view value) {
  run.variables.push_back(std::string(name) + "=" + std::string(value));
  return 1;
}

std::string EvaluateConditions(Run&, int32_t) {
  return {};
}

std::string DispatchCommand(Run&, std::string_view text, uint8_t) {
  std::string result;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find("\r\n", pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
    if (!line.empty()) {
      if (!result.empty())
        result += '&';
      result += line;
    }
    if (end == std::string_view::npos)
      break;
    pos = end + 2;
  }
  return result;
}

std::string DecipherVariableValue(std::string_view) {
  return {};
}

}  // namespace x5
