// The user's registry hive: finding the profile of an account's SID in the system's profile list,
// the hive file's name, and the texts the hive load and unload report.
#include "launch/user_hive.h"

#include <algorithm>

namespace x5::launch {

std::optional<ProfileListEntry> FindProfile(
    const std::function<std::optional<ProfileListEntry>()>& next,
    std::span<const uint8_t> account_sid) {
  if (account_sid.empty())
    return std::nullopt;
  while (std::optional<ProfileListEntry> entry = next()) {
    if (!entry->sid || entry->sid->size() != account_sid.size() ||
        !std::equal(account_sid.begin(), account_sid.end(), entry->sid->begin()))
      continue;
    // An entry without a directory would make the hive file a path of the current drive's root.
    if (!entry->image_path || entry->image_path->empty())
      continue;
    return entry;
  }
  return std::nullopt;
}

std::string HiveFile(std::string_view profile_directory) {
  std::string file(profile_directory);
  if (file.empty() || file.back() != '\\')
    file += '\\';
  return file + kHiveFileName;
}

bool IsLocalDomainForm(std::string_view domain) noexcept {
  return !domain.empty() && domain.front() == '$' && domain.back() == '$';
}

std::string HiveAccount(std::string_view user_name, std::string_view domain) {
  if (IsLocalDomainForm(domain))
    return std::string(user_name);
  std::string account(domain);
  account += '\\';
  account += user_name;
  return account;
}

std::string LookupFailureText(std::string_view account) {
  return "0 Error: Unable to Lookup the Current User Account: " + std::string(account);
}

std::string HiveResultText(long code, std::string_view hive_file, std::string_view hive_name) {
  std::string text = "  Load = " + std::to_string(code) + "\r\n";
  text += hive_file;
  text += "\r\n";
  text += hive_name;
  text += "\r\n";
  text[0] = code == 0 ? '1' : '0';
  return text;
}

}  // namespace x5::launch
