// dvup.dll: loads and unloads a logged-on user's profile and environment block for the runner.
#include <windows.h>

#include <cstdio>

#include "launch/profile_library_win.h"

namespace {

using LoadUserProfileFunction = BOOL(WINAPI*)(HANDLE, PROFILEINFOA*);
using UnloadUserProfileFunction = BOOL(WINAPI*)(HANDLE, HANDLE);
using CreateEnvironmentBlockFunction = BOOL(WINAPI*)(void**, HANDLE, BOOL);
using DestroyEnvironmentBlockFunction = BOOL(WINAPI*)(void*);

template <typename Function>
Function Entry(HMODULE module, const char* name) {
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

struct UserEnv {
  LoadUserProfileFunction load_profile;
  UnloadUserProfileFunction unload_profile;
  CreateEnvironmentBlockFunction create_block;
  DestroyEnvironmentBlockFunction destroy_block;

  explicit UserEnv(HMODULE module)
      : load_profile(Entry<LoadUserProfileFunction>(module, "LoadUserProfileA")),
        unload_profile(Entry<UnloadUserProfileFunction>(module, "UnloadUserProfile")),
        create_block(Entry<CreateEnvironmentBlockFunction>(module, "CreateEnvironmentBlock")),
        destroy_block(Entry<DestroyEnvironmentBlockFunction>(module, "DestroyEnvironmentBlock")) {}
  [[nodiscard]] bool Complete() const {
    return load_profile && unload_profile && create_block && destroy_block;
  }
};

void Say(char* message, const char* what, DWORD code) {
  if (message != nullptr)
    std::snprintf(message, x5::launch::kProfileMessageSize, "%s %lu", what,
                  static_cast<unsigned long>(code));
}

int32_t Failure(char* message, const char* what, DWORD code) {
  Say(message, what, code);
  return code == 0 ? 0 : -static_cast<int32_t>(code & 0x7FFFFFFF);
}

int32_t Load(const UserEnv& api,
             HANDLE token,
             void** environment,
             PROFILEINFOA* profile,
             char* message) {
  if (*environment != nullptr || profile->hProfile != nullptr)
    return Failure(message, "UsProf: profile already loaded", ERROR_ALREADY_INITIALIZED);
  if (!api.load_profile(token, profile))
    return Failure(message, "LoadUserProfileA failed", GetLastError());
  void* block = nullptr;
  if (!api.create_block(&block, token, FALSE) || block == nullptr) {
    const DWORD code = GetLastError();
    // Nothing half-loaded is handed back: the caller would have no reason to unload it.
    api.unload_profile(token, profile->hProfile);
    profile->hProfile = nullptr;
    return Failure(message, "CreateEnvironmentBlock failed", code != 0 ? code : ERROR_GEN_FAILURE);
  }
  *environment = block;
  Say(message, "Profile loaded", 0);
  return 1;
}

int32_t Unload(const UserEnv& api,
               HANDLE token,
               void** environment,
               PROFILEINFOA* profile,
               char* message) {
  DWORD failed = 0;
  if (*environment != nullptr) {
    if (!api.destroy_block(*environment))
      failed = GetLastError();
    *environment = nullptr;
  }
  if (profile->hProfile != nullptr) {
    if (!api.unload_profile(token, profile->hProfile) && failed == 0)
      failed = GetLastError();
    profile->hProfile = nullptr;
  }
  if (failed != 0)
    return Failure(message, "UsProf: unload failed", failed);
  Say(message, "Profile unloaded", 0);
  return 1;
}

}  // namespace

extern "C" __declspec(dllexport) int32_t WINAPI UsProf(uint8_t mode,
                                                       HMODULE userenv,
                                                       HANDLE token,
                                                       void** environment,
                                                       PROFILEINFOA* profile,
                                                       char* message) {
  if (message != nullptr)
    message[0] = '\0';
  if (userenv == nullptr || environment == nullptr || profile == nullptr)
    return Failure(message, "UsProf: missing argument", ERROR_INVALID_PARAMETER);
  const UserEnv api(userenv);
  if (!api.Complete())
    return Failure(message, "UsProf: userenv.dll lacks an entry", ERROR_PROC_NOT_FOUND);
  switch (mode) {
    case x5::launch::kProfileLoad:
      return Load(api, token, environment, profile, message);
    case x5::launch::kProfileUnload:
      return Unload(api, token, environment, profile, message);
    default:
      return Failure(message, "UsProf: unknown mode", ERROR_INVALID_PARAMETER);
  }
}
