// Registry access for the runner: keys, values, subkey lists, and user hives under HKEY_USERS.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "win/unique_handle.h"

namespace x5::registry {

// Every routine returns the registry's own result code (ERROR_SUCCESS = 0), never throws, and
// leaves its out-parameter untouched on failure.

// Opens an existing key below `root`.
[[nodiscard]] LSTATUS OpenKey(HKEY root,
                              const std::string& path,
                              REGSAM access,
                              win::ScopedKey& key) noexcept;
// Opens the key, creating it (and missing parents) when it does not exist.
[[nodiscard]] LSTATUS CreateKey(HKEY root,
                                const std::string& path,
                                REGSAM access,
                                win::ScopedKey& key) noexcept;

// A REG_DWORD value; ERROR_INVALID_DATATYPE when the value has another type or size.
[[nodiscard]] LSTATUS ReadDword(HKEY key, const char* name, uint32_t& value) noexcept;
[[nodiscard]] LSTATUS WriteDword(HKEY key, const char* name, uint32_t value) noexcept;
// A REG_SZ or REG_EXPAND_SZ value as stored (references are not expanded), without its
// terminating NULs; ERROR_INVALID_DATATYPE for other types.
[[nodiscard]] LSTATUS ReadString(HKEY key, const char* name, std::string& value) noexcept;
// The bytes of a REG_BINARY value; ERROR_INVALID_DATATYPE for other types.
[[nodiscard]] LSTATUS ReadBinary(HKEY key, const char* name, std::vector<uint8_t>& value) noexcept;
// The names of the direct subkeys, in enumeration order.
[[nodiscard]] LSTATUS EnumerateSubkeys(HKEY key, std::vector<std::string>& names) noexcept;

// Enables one privilege in the process token for the guard's lifetime, then puts the token back
// as it was (a privilege that was already enabled stays enabled).
class PrivilegeGuard {
 public:
  explicit PrivilegeGuard(const char* privilege_name) noexcept;
  PrivilegeGuard(const PrivilegeGuard&) = delete;
  PrivilegeGuard& operator=(const PrivilegeGuard&) = delete;
  ~PrivilegeGuard();

  // False when the token does not hold the privilege or could not be changed.
  bool Enabled() const noexcept { return enabled_; }

 private:
  win::ScopedHandle token_;
  TOKEN_PRIVILEGES previous_{};
  bool changed_ = false;
  bool enabled_ = false;
};

// Loads a hive file as HKEY_USERS\name, and unloads it, with the privileges the registry demands
// enabled only around the call.
[[nodiscard]] LSTATUS LoadHive(const std::string& name, const std::string& file) noexcept;
[[nodiscard]] LSTATUS UnloadHive(const std::string& name) noexcept;

// Owns a loaded hive: unloads it when it goes, so no path leaves it loaded.
class LoadedHive {
 public:
  LoadedHive() noexcept = default;
  explicit LoadedHive(std::string name) noexcept : name_(std::move(name)) {}
  LoadedHive(const LoadedHive&) = delete;
  LoadedHive& operator=(const LoadedHive&) = delete;
  LoadedHive(LoadedHive&& other) noexcept : name_(std::move(other.name_)) { other.name_.clear(); }
  LoadedHive& operator=(LoadedHive&& other) noexcept;
  ~LoadedHive() { static_cast<void>(Unload()); }

  bool Loaded() const noexcept { return !name_.empty(); }
  const std::string& Name() const noexcept { return name_; }
  // Unloads now; ERROR_SUCCESS when nothing was loaded. The guard is empty afterwards either way,
  // so a hive that cannot be unloaded is not retried from a destructor.
  LSTATUS Unload() noexcept;

 private:
  std::string name_;
};

}  // namespace x5::registry
