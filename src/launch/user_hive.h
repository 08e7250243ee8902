// The user's registry hive: finding the profile of an account's SID in the system's profile list,
// the hive file's name, and the texts the hive load and unload report.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace x5::launch {

inline constexpr char kProfileListKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline constexpr char kProfileImagePathValue[] = "ProfileImagePath";
inline constexpr char kProfileSidValue[] = "Sid";
inline constexpr char kHiveFileName[] = "NTUSER.DAT";

// One subkey of the profile list, with what could be read of its values.
struct ProfileListEntry {
  std::string name;                       // the SID in text form; the hive's name under HKEY_USERS
  std::optional<std::string> image_path;  // "ProfileImagePath", unexpanded
  std::optional<std::vector<uint8_t>> sid;  // "Sid"
};

// Walks the entries that `next` gives, in order, until one's Sid has the account SID's bytes and
// it names a profile directory; nullopt when none does or the SID is empty.
[[nodiscard]] std::optional<ProfileListEntry> FindProfile(
    const std::function<std::optional<ProfileListEntry>()>& next,
    std::span<const uint8_t> account_sid);

// The hive file of an (expanded) profile directory.
std::string HiveFile(std::string_view profile_directory);

// The account the hive is looked up by: the bare user name when the domain is the local form
// "$...$", else the domain, "\" and the user name.
std::string HiveAccount(std::string_view user_name, std::string_view domain);
// True for the domain form that logs on with an empty domain.
[[nodiscard]] bool IsLocalDomainForm(std::string_view domain) noexcept;

std::string LookupFailureText(std::string_view account);
inline constexpr char kKeyNotFoundText[] = "0 Key Not Found in ProfileList\r\n";
// "1 Load = 0" (or "0 Load = code"), the hive file and the hive name, each ending a line.
std::string HiveResultText(long code, std::string_view hive_file, std::string_view hive_name);

}  // namespace x5::launch
