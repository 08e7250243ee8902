// Starts the step's command in its own job object, with the runner console as its standard handles.
#include "launch/launch_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "runner/run_win.h"
#include "runner/subsystems_win.h"
#include "variables/variables.h"

namespace x5 {
namespace {

constexpr DWORD kCreationFlags =
    CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;

void SetStatus(Run& run, const char* text, int32_t code) {
  run.step.status_text = Padded(text, 8);
  run.step.status_code = code;
}

// Without a logon the step inherits the runner's own environment, so the runner variable table is
// applied to it: later entries override earlier ones, an empty value removes the variable.
void ApplyVariablesToEnvironment(const std::vector<std::string>& table) {
  for (const std::string& entry : table) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || eq == 0)
      continue;
    const std::string name = entry.substr(0, eq);
    const std::string value = entry.substr(eq + 1);
    if (value.empty()) {
      SetEnvironmentVariableA(name.c_str(), nullptr);
    } else if (value[0] == kPasswordMarker) {
      if (value.size() == 1) {
        SetEnvironmentVariableA(name.c_str(), nullptr);
      } else if (value.size() > 6) {
        SecretString plain = DecipherVariableValue(std::string_view(value).substr(1));
        SetEnvironmentVariableA(name.c_str(), plain.CStr());
      }
    } else {
      SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
  }
}

// Names the job after the console title; a job of that name that already exists belongs to
// another runner, so this one gets an unnamed job rather than sharing (and later killing) it.
ScopedHandle CreateStepJob(const std::string& title) {
  ScopedHandle job(CreateJobObjectA(nullptr, title.c_str()));
  if (job && GetLastError() == ERROR_ALREADY_EXISTS)
    job.reset(CreateJobObjectA(nullptr, nullptr));
  return job;
}

class Wow64RedirectionOff {
 public:
  explicit Wow64RedirectionOff(bool wanted) {
    if (wanted)
      active_ = Wow64DisableWow64FsRedirection(&old_) != FALSE;
  }
  Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
  Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;
  ~Wow64RedirectionOff() {
    if (active_)
      Wow64RevertWow64FsRedirection(old_);
  }

 private:
  PVOID old_ = nullptr;
  bool active_ = false;
};

}  // namespace

int32_t LaunchStep(Run& run) {
  const TaskRecord& task = run.task;
  const std::string domain = Trimmed(task.domain);
  if (domain.empty() || run.os_version < 4) {
    SetStatus(run, "NO LOGON", run.step.status_code);
  } else {
    // Running as another user needs the identity subsystem, which this build does not carry yet.
    SetStatus(run, "LOGON ?", 0);
    return ERROR_NOT_SUPPORTED;
  }

  STARTUPINFOA si{};
  si.cb = sizeof(si);
  std::string desktop = "winsta0\\default";
  std::string title = task.user_name;  // all 40 characters, as the step's console title
  si.lpDesktop = desktop.data();
  si.lpTitle = title.data();
  if (task.window_left >= 0) {
    si.dwX = static_cast<DWORD>(task.window_left);
    si.dwY = static_cast<DWORD>(task.window_top);
    si.dwFlags |= STARTF_USEPOSITION;
  }
  if (task.window_width >= 0) {
    si.dwXSize = static_cast<DWORD>(task.window_width);
    si.dwYSize = static_cast<DWORD>(task.window_height);
    si.dwFlags |= STARTF_USESIZE;
  }
  if (task.console_columns >= 0) {
    si.dwXCountChars = static_cast<DWORD>(task.console_columns);
    si.dwYCountChars = static_cast<DWORD>(task.console_rows);
    si.dwFlags |= STARTF_USECOUNTCHARS;
  }
  si.dwFlags |= STARTF_USESTDHANDLES;
  if (run.os_version >= 4) {
    si.hStdInput = run.console.Input();
    si.hStdOutput = run.console.Output();
    si.hStdError = run.console.Output();
  }

  std::string directory = ExpandVariables(run, Trimmed(task.working_directory), true, false);

  if (run.os_version >= 5)
    run.job = CreateStepJob(run.console_title);

  ApplyVariablesToEnvironment(run.variables);

  std::string command_line = run.step_command;
  PROCESS_INFORMATION pi{};
  BOOL created = FALSE;
  DWORD error = 0;
  {
    Wow64RedirectionOff redirection(run.os_version == 64);
    // Suspended until it is in the job, so nothing the step starts at once escapes the job.
    created = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                             kCreationFlags | CREATE_SUSPENDED, nullptr,
                             directory.empty() ? nullptr : directory.c_str(), &si, &pi);
    error = GetLastError();
  }
  SecureZeroMemory(directory.data(), directory.size());
  if (!created) {
    SetStatus(run, "STEP=?", error != 0 ? static_cast<int32_t>(error) : 99);
    return 0;
  }
  ScopedHandle process(pi.hProcess);
  ScopedHandle thread(pi.hThread);
  if (run.job && !AssignProcessToJobObject(run.job.get(), process.get())) {
    error = GetLastError();
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    SetStatus(run, "STEP=?", error != 0 ? static_cast<int32_t>(error) : 99);
    return 0;
  }
  ResumeThread(thread.get());
  if (run.os_version >= 5)
    WaitForInputIdle(process.get(), 10000);

  run.step.process_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pi.hProcess));
  run.step.thread_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pi.hThread));
  run.step.process_id = pi.dwProcessId;
  run.step.thread_id = pi.dwThreadId;
  run.process = std::move(process);
  run.thread = std::move(thread);
  SetStatus(run, "STEP OK", 1);
  return 1;
}

void UnloadStepProfile(Run&) {
  // Nothing is loaded while steps run under the runner's own account.
}

}  // namespace x5
