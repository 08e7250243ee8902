// Carries out a launch plan: the logon, the job, the environment and the step's process, created
// suspended inside the job and then started, under the runner's account or under another user's
// logon with that user's profile and hive.
#include "launch/launch_win.h"

#include <windows.h>

#include <userenv.h>

#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cipher/password_cipher.h"
#include "launch/access_list.h"
#include "launch/desktop_access_win.h"
#include "launch/environment_block.h"
#include "launch/step_job_win.h"
#include "launch/user_hive.h"
#include "protocol/status_texts.h"
#include "registry/registry_win.h"

namespace x5::launch {
namespace {

// The plan speaks in the platform's values.
static_assert(kCreateSuspended == CREATE_SUSPENDED &&
              kNormalPriorityClass == NORMAL_PRIORITY_CLASS &&
              kCreateNewProcessGroup == CREATE_NEW_PROCESS_GROUP &&
              kCreateUnicodeEnvironment == CREATE_UNICODE_ENVIRONMENT);
static_assert(kStartUseSize == STARTF_USESIZE && kStartUsePosition == STARTF_USEPOSITION &&
              kStartUseCountChars == STARTF_USECOUNTCHARS &&
              kStartUseStdHandles == STARTF_USESTDHANDLES);

constexpr int32_t kProfileFailureCode = 5;

void SetStatus(protocol::StatusRecord& record, std::string_view text, int32_t code) {
  record.status_text = protocol::Padded(text, 8);
  record.status_code = code;
}

// A failure's platform code, or 99 when the platform gave none.
int32_t FailureCode(DWORD error) {
  return error != 0 ? static_cast<int32_t>(error) : 99;
}

core::SecretString DecipherVariableValue(std::string_view enciphered) {
  return cipher::DecipherVariable(enciphered);
}

// Without a logon the step inherits the runner's own environment, so the variable table's changes
// are made to it.
void ApplyToRunnerEnvironment(const std::vector<std::string>& table) {
  for (const EnvironmentEdit& edit : RunnerEnvironmentEdits(table, DecipherVariableValue)) {
    SetEnvironmentVariableA(edit.name.c_str(), edit.value ? edit.value->CStr() : nullptr);
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
    win::ScopedHandle own;
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

// Logs the plan's user on and prepares the hive and desktop access. Fails, with the platform's
// code, when the logon is refused.
core::Result<void> LogOn(const LaunchPlan& plan,
                         core::Expander& expander,
                         StepIdentity& identity,
                         protocol::StatusRecord& record) {
  if (plan.logon == LogonChoice::kRefused) {
    SetStatus(record, protocol::kStatusLogonFailed, 0);
    return core::Failure{"the logon is refused", ERROR_LOGON_FAILURE};
  }
  BOOL logged_on = FALSE;
  DWORD error = 0;
  {
    core::SecretString password = cipher::DecipherField(plan.enciphered_password);
    size_t length = password.Size();
    while (length > 0 && password[length - 1] == ' ')
      --length;
    password.Resize(length);
    logged_on =
        LogonUserA(plan.user.c_str(), plan.logon_domain.c_str(), password.CStr(),
                   LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, identity.token.put());
    error = GetLastError();
  }  // the password is wiped here, as soon as the logon call has returned
  if (!logged_on) {
    (void)identity.token.release();  // a refused logon hands back no token to close
    SetStatus(record, protocol::kStatusLogonFailed, 0);
    return core::Failure{"the logon is refused", error != 0 ? error : ERROR_LOGON_FAILURE};
  }
  // Neither outcome changes the course of the launch; the profile library loads the profile
  // even where the hive could not be loaded here.
  LoadUserHive(identity, expander, plan.hive_account, true);
  GrantDesktopAccess(identity, std::string(), true);
  SetStatus(record, protocol::kStatusLogonOk, 1);
  return {};
}

// Loads userenv.dll and the profile library and has the library load the user's profile and
// environment block. Fails with what could not be loaded.
core::Result<void> LoadProfile(StepIdentity& identity, const std::string& user) {
  // By full path, so no userenv.dll planted in the current folder is loaded into the runner.
  identity.userenv.reset(LoadLibraryA(SystemLibraryPath("userenv.dll").c_str()));
  if (!identity.userenv)
    return core::Failure{"userenv.dll cannot be loaded", GetLastError()};
  const std::string library = RunnerFolder() + kProfileLibraryName;
  identity.profile_library.reset(
      LoadLibraryExA(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!identity.profile_library)
    return core::Failure{library + " cannot be loaded", GetLastError()};
  identity.us_prof = reinterpret_cast<UsProfFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(identity.profile_library.get(), kProfileEntryName)));
  if (identity.us_prof == nullptr)
    return core::Failure{library + " has no " + kProfileEntryName, GetLastError()};
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
  if (!identity.profile_loaded)
    return core::Failure{"the profile library did not load the profile", 0};
  if (identity.environment == nullptr)
    return core::Failure{"the profile library gave no environment", 0};
  return {};
}

STARTUPINFOA StartupInformation(StartupValues& values, const StepStart& start) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.lpDesktop = values.desktop.data();
  si.lpTitle = values.title.data();
  si.dwFlags = values.flags;
  si.dwX = values.x;
  si.dwY = values.y;
  si.dwXSize = values.width;
  si.dwYSize = values.height;
  si.dwXCountChars = values.columns;
  si.dwYCountChars = values.rows;
  if (values.console_handles) {
    si.hStdInput = start.console_input;
    si.hStdOutput = start.console_output;
    si.hStdError = start.console_output;
  }
  return si;
}

// A created process, its handles owned from the moment the create call returns.
struct CreatedProcess {
  win::ScopedHandle process;
  win::ScopedHandle thread;
  DWORD process_id = 0;
  DWORD thread_id = 0;
};

// Fails with the platform's code read right after the create call.
core::Result<CreatedProcess> CreateStepProcess(const LaunchPlan& plan,
                                               core::SecretString command_line,
                                               const STARTUPINFOA& startup,
                                               const core::SecretString& directory,
                                               HANDLE job,
                                               HANDLE token,
                                               const EnvironmentBlock* block) {
  const char* folder = directory.Empty() ? nullptr : directory.CStr();
  DWORD flags = plan.creation_flags;
  // Placed in the job by the system as it is created, where the system can.
  JobAtCreation placement(job);
  STARTUPINFOEXA extended{};
  extended.StartupInfo = startup;
  STARTUPINFOA& si = extended.StartupInfo;
  if (placement.List() != nullptr) {
    si.cb = sizeof(extended);
    extended.lpAttributeList = placement.List();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION info{};
  BOOL ok = FALSE;
  DWORD error = 0;
  if (block == nullptr) {
    Wow64RedirectionOff redirection(plan.redirection_off);
    ok = CreateProcessA(nullptr, command_line.Span().data(), nullptr, nullptr, TRUE, flags, nullptr,
                        folder, &si, &info);
    error = GetLastError();
  } else {
    StepSecurity security(token);
    // Needed to start a process with another user's token; enabled only for the call.
    registry::PrivilegeGuard quota("SeIncreaseQuotaPrivilege");
    registry::PrivilegeGuard assign("SeAssignPrimaryTokenPrivilege");
    Wow64RedirectionOff redirection(plan.redirection_off);
    ok = CreateProcessAsUserA(token, nullptr, command_line.Span().data(), security.Process(),
                              security.Thread(), TRUE, flags, const_cast<char16_t*>(block->data()),
                              folder, &si, &info);
    error = GetLastError();
  }
  CreatedProcess created;
  created.process.reset(info.hProcess);
  created.thread.reset(info.hThread);
  if (!ok)
    return core::Failure{"the step's process cannot be created", error};
  created.process_id = info.dwProcessId;
  created.thread_id = info.dwThreadId;
  return created;
}

// Succeeds when the step runs; the record says how the launch went either way.
core::Result<void> Launch(const LaunchPlan& plan,
                          StepStart& start,
                          StepIdentity& identity,
                          LaunchedStep& out) {
  protocol::StatusRecord& record = out.record;
  if (plan.logon == LogonChoice::kNone) {
    SetStatus(record, protocol::kStatusNoLogon, record.status_code);
  } else if (core::Result<void> logged_on = LogOn(plan, start.expander, identity, record);
             !logged_on) {
    return logged_on;
  }

  StartupValues startup_values = plan.startup;
  const STARTUPINFOA si = StartupInformation(startup_values, start);

  if (plan.job) {
    core::Result<win::ScopedHandle> made = CreateStepJob(plan.job_name);
    if (!made) {
      SetStatus(record, protocol::kStatusNotStarted, FailureCode(made.failure().system_code));
      return std::move(made).failure();
    }
    out.job = std::move(*made);
  }

  const core::SecretString directory =
      start.expander.ExpandDeciphered(plan.working_directory, false).deciphered;

  EnvironmentBlock block;
  const bool explicit_block = plan.environment == EnvironmentRule::kUserBlock;
  if (!explicit_block) {
    ApplyToRunnerEnvironment(start.variables);
  } else {
    if (core::Result<void> profile = LoadProfile(identity, plan.user); !profile) {
      SetStatus(record, protocol::kStatusProfileFailed, kProfileFailureCode);
      return profile;
    }
    block =
        StepEnvironmentBlock(start.variables, static_cast<const char16_t*>(identity.environment),
                             DecipherVariableValue, AnsiBlockText());
  }

  // The deciphered command line leaves the caller here and is wiped when the call is done.
  core::Result<CreatedProcess> created =
      CreateStepProcess(plan, std::move(start.command_line), si, directory, out.job.get(),
                        identity.token.get(), explicit_block ? &block : nullptr);
  if (!created) {
    SetStatus(record, protocol::kStatusNotStarted, FailureCode(created.failure().system_code));
    return std::move(created).failure();
  }
  // From here until it runs, any failure ends the suspended process.
  SuspendedStep suspended(std::move(created->process), std::move(created->thread));
  EnvironmentBlock().swap(block);  // the system has its own copy; ours is wiped as it goes
  core::Result<void> running = out.job ? suspended.JoinJob(out.job.get()) : core::Result<void>();
  if (running)
    running = suspended.Start();
  if (!running) {
    SetStatus(record, protocol::kStatusNotStarted,
              static_cast<int32_t>(running.failure().system_code));
    return running;
  }
  suspended.Release(out.process, out.thread);
  if (plan.pause_before_idle > 0)
    Sleep(plan.pause_before_idle);
  if (plan.wait_for_idle)
    WaitForInputIdle(out.process.get(), kInputIdleWaitMs);

  record.process_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out.process.get()));
  record.thread_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out.thread.get()));
  record.process_id = created->process_id;
  record.thread_id = created->thread_id;
  SetStatus(record, protocol::kStatusStepOk, 1);
  return {};
}

}  // namespace

LaunchedStep LaunchStep(const LaunchPlan& plan, StepStart start, StepIdentity& identity) {
  LaunchedStep out;
  try {
    out.started = Launch(plan, start, identity, out);
  } catch (const std::bad_alloc&) {
    SetStatus(out.record, protocol::kStatusNotStarted, ERROR_NOT_ENOUGH_MEMORY);
    out.started = core::Failure{"out of memory", ERROR_NOT_ENOUGH_MEMORY};
  }
  return out;
}

void UnloadStepProfile(StepIdentity& identity) noexcept {
  // Acts only when the launch logged a user on; every hold is released whatever the launch reached.
  identity.Release();
}

}  // namespace x5::launch
