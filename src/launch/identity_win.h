// What a step run under another user's logon holds for the run: the logon token, the user's
// registry hive and profile, the user's environment block and the libraries that serve them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/interfaces.h"
#include "launch/profile_library_win.h"
#include "registry/registry_win.h"
#include "win/unique_handle.h"

namespace x5::launch {

// Each hold is released by Release(), which the destructor also calls, so a launch that fails
// halfway or a run that ends by an operator KILL leaves nothing loaded.
class StepIdentity {
 public:
  StepIdentity() = default;
  StepIdentity(const StepIdentity&) = delete;
  StepIdentity& operator=(const StepIdentity&) = delete;
  ~StepIdentity() { Release(); }

  // The step runs under the token of another user's logon.
  bool LoggedOn() const noexcept { return static_cast<bool>(token); }

  // Releases in the order the holds depend on each other: the profile and its environment block
  // (through the library that loaded them), the token, the hive, then the libraries.
  void Release() noexcept;

  win::ScopedHandle token;
  std::vector<uint8_t> account_sid;  // empty unless the most recent account lookup succeeded
  std::string lookup_text;           // the text of a failed lookup
  std::string hive_file;
  registry::LoadedHive hive;

  win::ScopedModule userenv;
  win::ScopedModule profile_library;
  UsProfFunction us_prof = nullptr;
  void* environment = nullptr;  // the user's block, owned by the library until its unload
  PROFILEINFOA profile{};
  std::string profile_user;  // the storage profile.lpUserName points into
  bool profile_loaded = false;
};

// Looks the account up on the local system: keeps its SID, or clears it and keeps the failure's
// text. False when the lookup failed.
bool LookupAccount(StepIdentity& identity, const std::string& account);

// Looks the account up (when one is given) and keeps its SID; then loads (true) or unloads
// (false) the hive of that account's profile. A text whose first character is "1" or "0".
// The profile folder is expanded with `expander` (it is stored with references such as
// %SystemDrive%).
std::string LoadUserHive(StepIdentity& identity,
                         core::Expander& expander,
                         const std::string& account,
                         bool load);

}  // namespace x5::launch
