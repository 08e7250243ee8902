// Starts the step's command in its own job object, with the runner console as its standard handles,
// under the runner's account or under another user's logon with that user's profile and hive.
#include "launch/launch_win.h"

#include <windows.h>

#include <userenv.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cipher/password_cipher.h"
#include "launch/access_list.h"
#include "launch/desktop_access_win.h"
#include "launch/environment_block.h"
#include "launch/identity_win.h"
#include "launch/step_job_win.h"
#include "launch/user_hive.h"
#include "registry/registry_win.h"
#include "runner/run_win.h"
#include "runner/subsystems_win.h"
#include "variables/variables.h"

namespace x5 {
namespace {

constexpr DWORD kCreationFlags =
    CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;
constexpr DWORD kProfileFailureCode = 5;

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
      const SecretString plain = DecipherVariableValue(std::string_view(value).substr(1));
      // A password that does not decipher is not handed on as an empty value.
      SetEnvironmentVariableA(name.c_str(), plain.Empty() ? nullptr : plain.CStr());
    } else {
      SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
  }
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

// The system code page both ways, so text outside ASCII survives the trip through the block.
class AnsiBlockText final : public BlockText {
 public:
  std::string Narrow(std::u16string_view units) const override {
    if (units.empty())
      return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
    const int length = static_cast<int>(units.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
      WideCharToMultiByte(CP_ACP, 0, wide, length, text.data(), n, nullptr, nullptr);
    return text;
  }
  void AppendWide(std::string_view text, EnvironmentBlock& block) const override {
    if (text.empty())
      return;
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (n <= 0)
      return;
    const size_t at = block.size();
    block.resize(at + static_cast<size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(&block[at]), n);
  }
};

std::string SystemLibraryPath(const char* name) {
  char folder[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return name;
  return std::string(folder, n) + "\\" + name;
}

// The folder of the runner's own program, with its trailing backslash.
std::string RunnerFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0)
      return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<uint8_t> TokenUserSid(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0)
    return {};
  std::vector<uintptr_t> storage((size + sizeof(uintptr_t) - 1) / sizeof(uintptr_t));
  if (!GetTokenInformation(token, TokenUser, storage.data(),
                           static_cast<DWORD>(storage.size() * sizeof(uintptr_t)), &size))
    return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(storage.data())->User.Sid;
  if (!IsValidSid(sid))
    return {};
  const auto* bytes = static_cast<const uint8_t*>(sid);
  return std::vector<uint8_t>(bytes, bytes + GetLengthSid(sid));
}

std::vector<uint8_t> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<uint8_t> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &size))
    return {};
  sid.resize(size);
  return sid;
}

// Security for the process and thread of a step run under another user's logon: full access
// for that user, the runner's own account, SYSTEM and Administrators, nothing for anyone else.
class StepSecurity {
 public:
  explicit StepSecurity(HANDLE logon_token) {
    std::vector<std::vector<uint8_t>> sids;
    sids.push_back(TokenUserSid(logon_token));
    ScopedHandle own;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put()))
      sids.push_back(TokenUserSid(own.get()));
    sids.push_back(WellKnownSid(WinLocalSystemSid));
    sids.push_back(WellKnownSid(WinBuiltinAdministratorsSid));
    process_.Make(OwnersOnlyAccessList(sids, PROCESS_ALL_ACCESS));
    thread_.Make(OwnersOnlyAccessList(sids, THREAD_ALL_ACCESS));
  }

  // Null when no list could be made: the system's default security is then the safer choice
  // than a list that shuts the runner out of its own step.
  SECURITY_ATTRIBUTES* Process() { return process_.Attributes(); }
  SECURITY_ATTRIBUTES* Thread() { return thread_.Attributes(); }

 private:
  class Part {
   public:
    Part() = default;
    Part(const Part&) = delete;
    Part& operator=(const Part&) = delete;

    void Make(const std::vector<uint8_t>& list) {
      if (list.size() < kAclHeaderSize || (list[4] == 0 && list[5] == 0))
        return;                               // no entry at all
      acl_.assign((list.size() + 3) / 4, 0);  // DWORD-aligned, as the system expects a list
      std::memcpy(acl_.data(), list.data(), list.size());
      auto* acl = reinterpret_cast<PACL>(acl_.data());
      if (!IsValidAcl(acl) ||
          !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
          !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
        return;
      attributes_.nLength = sizeof(attributes_);
      attributes_.lpSecurityDescriptor = &descriptor_;
      // The step's handles stay with the runner; nothing it starts later needs them.
      attributes_.bInheritHandle = FALSE;
      ready_ = true;
    }
    SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

   private:
    std::vector<uint32_t> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
  };

  Part process_;
  Part thread_;
};

// Logs the task's user on and prepares the hive and desktop access. 0 when the logon succeeded,
// else the value LaunchStep returns for a refused logon.
int32_t LogOn(Run& run, const std::string& user, const std::string& domain) {
  StepIdentity& identity = run.identity;
  if (user.empty()) {
    // No account has an empty name: refused as the system refuses an unknown user.
    SetStatus(run, "LOGON ?", 0);
    return ERROR_LOGON_FAILURE;
  }
  const std::string logon_domain = IsLocalDomainForm(domain) ? std::string() : domain;
  HANDLE token = nullptr;
  BOOL logged_on = FALSE;
  DWORD error = 0;
  {
    SecretString password = Rozavadedo::DecipherField(run.task.password);
    size_t length = password.Size();
    while (length > 0 && password[length - 1] == ' ')
      --length;
    password.Resize(length);
    logged_on = LogonUserA(user.c_str(), logon_domain.c_str(), password.CStr(),
                           LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token);
    error = GetLastError();
  }  // the password is wiped here, as soon as the logon call has returned
  if (!logged_on) {
    SetStatus(run, "LOGON ?", 0);
    // 1 would read as "started" to the caller.
    return error > 1 ? static_cast<int32_t>(error) : static_cast<int32_t>(ERROR_LOGON_FAILURE);
  }
  identity.token.reset(token);
  // Neither outcome changes the course of the launch; the profile library loads the profile
  // even where the hive could not be loaded here.
  (void)LoadUserHive(run, HiveAccount(user, domain), true);
  (void)DesktopPraviceMod::GrantDesktopAccess(identity, std::string(), true);
  SetStatus(run, "LOGON OK", 1);
  return 0;
}

// Loads userenv.dll and the profile library and has the library load the user's profile and
// environment block. False when any of it failed.
bool LoadProfile(Run& run, const std::string& user) {
  StepIdentity& identity = run.identity;
  // By full path, so no userenv.dll planted in the current folder is loaded into the runner.
  identity.userenv.reset(LoadLibraryA(SystemLibraryPath("userenv.dll").c_str()));
  if (!identity.userenv)
    return false;
  const std::string library = RunnerFolder() + kProfileLibraryName;
  identity.profile_library.reset(
      LoadLibraryExA(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!identity.profile_library)
    return false;
  identity.us_prof = reinterpret_cast<UsProfFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(identity.profile_library.get(), kProfileEntryName)));
  if (identity.us_prof == nullptr)
    return false;
  identity.profile_user = user;
  identity.profile = PROFILEINFOA{};
  identity.profile.dwSize = sizeof(PROFILEINFOA);
  identity.profile.dwFlags = PI_NOUI;
  identity.profile.lpUserName = identity.profile_user.data();
  std::vector<char> message(kProfileMessageSize, '\0');
  const int32_t loaded =
      identity.us_prof(kProfileLoad, identity.userenv.get(), identity.token.get(),
                       &identity.environment, &identity.profile, message.data());
  identity.profile_loaded = loaded >= 1;
  return identity.profile_loaded && identity.environment != nullptr;
}

struct Created {
  PROCESS_INFORMATION info{};
  BOOL ok = FALSE;
  DWORD error = 0;
};

Created CreateStepProcess(Run& run,
                          const STARTUPINFOA& startup,
                          const SecretString& directory,
                          const EnvironmentBlock* block) {
  Created created;
  // The create call may write into the command line; nothing needs it afterwards, so the
  // deciphered line leaves the run state here and is wiped when the call is done.
  SecretString command_line = std::move(run.step_command);
  const char* folder = directory.Empty() ? nullptr : directory.CStr();
  // Suspended until it is in the job and placed there by the system where it can, so nothing the
  // step starts escapes the job and no step process exists outside it.
  DWORD flags = kCreationFlags | CREATE_SUSPENDED;
  JobAtCreation placement(run.job.get());
  STARTUPINFOEXA extended{};
  extended.StartupInfo = startup;
  STARTUPINFOA& si = extended.StartupInfo;
  if (placement.List() != nullptr) {
    si.cb = sizeof(extended);
    extended.lpAttributeList = placement.List();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  if (block == nullptr) {
    Wow64RedirectionOff redirection(run.os_version == 64);
    created.ok = CreateProcessA(nullptr, command_line.Span().data(), nullptr, nullptr, TRUE, flags,
                                nullptr, folder, &si, &created.info);
    created.error = GetLastError();
    return created;
  }
  StepSecurity security(run.identity.token.get());
  // Needed to start a process with another user's token; enabled only for the call.
  RegisM::PrivilegeGuard quota("SeIncreaseQuotaPrivilege");
  RegisM::PrivilegeGuard assign("SeAssignPrimaryTokenPrivilege");
  Wow64RedirectionOff redirection(run.os_version == 64);
  created.ok =
      CreateProcessAsUserA(run.identity.token.get(), nullptr, command_line.Span().data(),
                           security.Process(), security.Thread(), TRUE, flags,
                           const_cast<char16_t*>(block->data()), folder, &si, &created.info);
  created.error = GetLastError();
  return created;
}

int32_t Launch(Run& run) {
  const TaskRecord& task = run.task;
  const std::string user = Trimmed(task.user_name);
  const std::string domain = Trimmed(task.domain);
  const bool logon = !domain.empty() && run.os_version >= 4;
  if (!logon) {
    SetStatus(run, "NO LOGON", run.step.status_code);
  } else if (const int32_t refused = LogOn(run, user, domain); refused != 0) {
    return refused;
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

  // A step never runs outside a job where the system has them: without one it could neither be
  // ended as a tree nor be sure to end with the runner.
  if (run.os_version >= 5) {
    StepJob made = CreateStepJob(run.console_title);
    if (!made.job) {
      SetStatus(run, "STEP=?", made.error != 0 ? static_cast<int32_t>(made.error) : 99);
      return 0;
    }
    run.job = std::move(made.job);
  }

  const SecretString directory =
      ExpandVariables(run, Trimmed(task.working_directory), kDecipherPasswords, false).deciphered;

  EnvironmentBlock block;
  if (!logon) {
    ApplyVariablesToEnvironment(run.variables);
  } else {
    if (!LoadProfile(run, user)) {
      SetStatus(run, "PROFILE?", kProfileFailureCode);
      return 0;
    }
    block =
        StepEnvironmentBlock(run.variables, static_cast<const char16_t*>(run.identity.environment),
                             DecipherVariableValue, AnsiBlockText());
  }

  Created created = CreateStepProcess(run, si, directory, logon ? &block : nullptr);
  // From here until it runs, any failure ends the suspended process.
  SuspendedStep suspended(created.info);
  EnvironmentBlock().swap(block);  // the system has its own copy; ours is wiped as it goes
  if (!created.ok) {
    SetStatus(run, "STEP=?", created.error != 0 ? static_cast<int32_t>(created.error) : 99);
    return 0;
  }
  DWORD error = run.job ? suspended.JoinJob(run.job.get()) : 0;
  if (error == 0)
    error = suspended.Start();
  if (error != 0) {
    SetStatus(run, "STEP=?", static_cast<int32_t>(error));
    return 0;
  }
  ScopedHandle process;
  ScopedHandle thread;
  suspended.Release(process, thread);
  if (run.os_version >= 5) {
    if (run.os_version == 64 && logon)
      Sleep(2000);
    WaitForInputIdle(process.get(), 10000);
  }

  run.step.process_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(process.get()));
  run.step.thread_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(thread.get()));
  run.step.process_id = created.info.dwProcessId;
  run.step.thread_id = created.info.dwThreadId;
  run.process = std::move(process);
  run.thread = std::move(thread);
  SetStatus(run, "STEP OK", 1);
  return 1;
}

}  // namespace

int32_t LaunchStep(Run& run) {
  try {
    return Launch(run);
  } catch (const std::bad_alloc&) {
    SetStatus(run, "STEP=?", ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

void UnloadStepProfile(Run& run) {
  // Acts only when the launch logged a user on; every hold is released whatever the launch reached.
  run.identity.Release();
}

}  // namespace x5
