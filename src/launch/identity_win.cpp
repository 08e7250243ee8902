// The holds of a step run under another user's logon: account lookup, the user's hive, and their
// release at the end of the run.
#include "launch/identity_win.h"

#include <new>
#include <optional>

#include "launch/user_hive.h"

namespace x5::launch {

void StepIdentity::Release() noexcept {
  if (profile_loaded && us_prof != nullptr) {
    char message[kProfileMessageSize] = {};
    us_prof(kProfileUnload, userenv.get(), token.get(), &environment, &profile, message);
  }
  profile_loaded = false;
  environment = nullptr;
  profile.hProfile = nullptr;
  token.reset();
  hive.Unload();
  us_prof = nullptr;
  profile_library.reset();
  userenv.reset();
}

bool LookupAccount(StepIdentity& identity, const std::string& account) {
  identity.account_sid.clear();
  try {
    // The first call only learns the sizes.
    BYTE probe[1];
    DWORD sid_size = sizeof(probe);
    char domain_probe[1];
    DWORD domain_size = sizeof(domain_probe);
    SID_NAME_USE use{};
    if (!LookupAccountNameA(nullptr, account.c_str(), probe, &sid_size, domain_probe, &domain_size,
                            &use) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && sid_size > 0) {
      std::vector<uint8_t> sid(sid_size);
      std::string domain(domain_size + 1, '\0');
      domain_size = static_cast<DWORD>(domain.size());
      if (LookupAccountNameA(nullptr, account.c_str(), sid.data(), &sid_size, domain.data(),
                             &domain_size, &use) &&
          IsValidSid(sid.data()) && GetLengthSid(sid.data()) <= sid.size()) {
        sid.resize(GetLengthSid(sid.data()));
        identity.account_sid = std::move(sid);
        identity.lookup_text.clear();
        return true;
      }
    }
    identity.lookup_text = LookupFailureText(account);
  } catch (const std::bad_alloc&) {
    identity.lookup_text.clear();
  }
  return false;
}

namespace {

// Reads the profile list's subkeys one at a time, so the search stops reading at its match.
class ProfileListReader {
 public:
  explicit ProfileListReader(HKEY list) : list_(list) {
    if (registry::EnumerateSubkeys(list_, names_) != ERROR_SUCCESS)
      names_.clear();
  }

  std::optional<ProfileListEntry> Next() {
    if (next_ == names_.size())
      return std::nullopt;
    ProfileListEntry entry;
    entry.name = names_[next_++];
    win::ScopedKey key;
    if (registry::OpenKey(list_, entry.name, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
      return entry;
    std::string path;
    if (registry::ReadString(key.get(), kProfileImagePathValue, path) == ERROR_SUCCESS)
      entry.image_path = std::move(path);
    std::vector<uint8_t> sid;
    if (registry::ReadBinary(key.get(), kProfileSidValue, sid) == ERROR_SUCCESS)
      entry.sid = std::move(sid);
    return entry;
  }

 private:
  HKEY list_;
  std::vector<std::string> names_;
  size_t next_ = 0;
};

}  // namespace

std::string LoadUserHive(StepIdentity& identity,
                         core::Expander& expander,
                         const std::string& account,
                         bool load) {
  try {
    std::string hive_name = identity.hive.Name();
    if (!account.empty()) {
      if (!LookupAccount(identity, account))
        return LookupFailureText(account);
      win::ScopedKey list;
      std::optional<ProfileListEntry> profile;
      if (registry::OpenKey(HKEY_LOCAL_MACHINE, kProfileListKey, KEY_READ, list) == ERROR_SUCCESS) {
        ProfileListReader reader(list.get());
        profile = FindProfile([&reader] { return reader.Next(); }, identity.account_sid);
      }
      if (!profile)
        return kKeyNotFoundText;
      // Stored with references such as %SystemDrive%, which the runner's expansion resolves.
      identity.hive_file = HiveFile(expander.Expand(*profile->image_path, false));
      hive_name = profile->name;
    }

    LSTATUS status = ERROR_SUCCESS;
    if (load) {
      if (identity.hive.Loaded()) {
        status = identity.hive.Name() == hive_name ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
      } else {
        status = registry::LoadHive(hive_name, identity.hive_file);
        // Only a hive this runner loaded is ever unloaded: one the system loaded for a user
        // who is logged on (the load fails then) belongs to that session.
        if (status == ERROR_SUCCESS)
          identity.hive = registry::LoadedHive(hive_name);
      }
    } else {
      status = identity.hive.Loaded() ? identity.hive.Unload() : ERROR_FILE_NOT_FOUND;
    }
    return HiveResultText(status, identity.hive_file, hive_name);
  } catch (const std::bad_alloc&) {
    return "0 Error: out of memory\r\n";
  }
}

}  // namespace x5::launch
