// Registry access for the runner: keys, values, subkey lists, and user hives under HKEY_USERS.
#include "registry/registry_win.h"

#include <new>

namespace x5::registry {

LSTATUS OpenKey(HKEY root, const std::string& path, REGSAM access, win::ScopedKey& key) noexcept {
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, access, &opened);
  if (status == ERROR_SUCCESS)
    key.reset(opened);
  return status;
}

LSTATUS CreateKey(HKEY root, const std::string& path, REGSAM access, win::ScopedKey& key) noexcept {
  HKEY opened = nullptr;
  const LSTATUS status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         access, nullptr, &opened, nullptr);
  if (status == ERROR_SUCCESS)
    key.reset(opened);
  return status;
}

LSTATUS ReadDword(HKEY key, const char* name, uint32_t& value) noexcept {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  const LSTATUS status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status == ERROR_MORE_DATA)
    return ERROR_INVALID_DATATYPE;
  if (status != ERROR_SUCCESS)
    return status;
  if (type != REG_DWORD || size != sizeof(data))
    return ERROR_INVALID_DATATYPE;
  value = data;
  return ERROR_SUCCESS;
}

LSTATUS WriteDword(HKEY key, const char* name, uint32_t value) noexcept {
  const DWORD data = value;
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof(data));
}

namespace {

// Reads a value of any type into `bytes`, growing the buffer while the value grows under us.
LSTATUS ReadRaw(HKEY key, const char* name, DWORD& type, std::vector<uint8_t>& bytes) noexcept {
  try {
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    for (int attempt = 0; attempt < 8 && status == ERROR_SUCCESS; ++attempt) {
      // Room for terminators a string value may lack in the registry.
      bytes.resize(static_cast<size_t>(size) + 2);
      DWORD got = size;
      status = RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &got);
      if (status == ERROR_SUCCESS) {
        bytes.resize(got);
        return ERROR_SUCCESS;
      }
      if (status != ERROR_MORE_DATA)
        return status;
      size = got > size ? got : size * 2;
      status = ERROR_SUCCESS;
    }
    return status == ERROR_SUCCESS ? ERROR_MORE_DATA : status;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

LSTATUS ReadString(HKEY key, const char* name, std::string& value) noexcept {
  DWORD type = 0;
  std::vector<uint8_t> bytes;
  const LSTATUS status = ReadRaw(key, name, type, bytes);
  if (status != ERROR_SUCCESS)
    return status;
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    return ERROR_INVALID_DATATYPE;
  size_t length = 0;
  while (length < bytes.size() && bytes[length] != 0)
    ++length;
  try {
    value.assign(reinterpret_cast<const char*>(bytes.data()), length);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

LSTATUS ReadBinary(HKEY key, const char* name, std::vector<uint8_t>& value) noexcept {
  DWORD type = 0;
  std::vector<uint8_t> bytes;
  const LSTATUS status = ReadRaw(key, name, type, bytes);
  if (status != ERROR_SUCCESS)
    return status;
  if (type != REG_BINARY)
    return ERROR_INVALID_DATATYPE;
  value = std::move(bytes);
  return ERROR_SUCCESS;
}

LSTATUS EnumerateSubkeys(HKEY key, std::vector<std::string>& names) noexcept {
  try {
    std::vector<std::string> found;
    for (DWORD index = 0;; ++index) {
      char name[256];  // key names are at most 255 characters
      DWORD length = sizeof(name);
      const LSTATUS status =
          RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS)
        break;
      if (status != ERROR_SUCCESS)
        return status;
      found.emplace_back(name, length);
    }
    names = std::move(found);
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

PrivilegeGuard::PrivilegeGuard(const char* privilege_name) noexcept {
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()))
    return;
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, privilege_name, &wanted.Privileges[0].Luid))
    return;
  DWORD previous_size = sizeof(previous_);
  if (!AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous_), &previous_,
                             &previous_size))
    return;
  // Success with ERROR_NOT_ALL_ASSIGNED means the token does not hold the privilege at all.
  const bool assigned = GetLastError() == ERROR_SUCCESS;
  changed_ = previous_.PrivilegeCount > 0;
  enabled_ = assigned;
}

PrivilegeGuard::~PrivilegeGuard() {
  if (changed_) {
    const DWORD saved = GetLastError();
    AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    SetLastError(saved);
  }
}

namespace {

// The registry asks for both privileges to load or unload a hive.
struct HivePrivileges {
  PrivilegeGuard restore{"SeRestorePrivilege"};
  PrivilegeGuard backup{"SeBackupPrivilege"};
};

}  // namespace

LSTATUS LoadHive(const std::string& name, const std::string& file) noexcept {
  if (name.empty() || file.empty())
    return ERROR_INVALID_PARAMETER;
  HivePrivileges privileges;
  return RegLoadKeyA(HKEY_USERS, name.c_str(), file.c_str());
}

LSTATUS UnloadHive(const std::string& name) noexcept {
  if (name.empty())
    return ERROR_INVALID_PARAMETER;
  HivePrivileges privileges;
  return RegUnLoadKeyA(HKEY_USERS, name.c_str());
}

LoadedHive& LoadedHive::operator=(LoadedHive&& other) noexcept {
  if (this != &other) {
    static_cast<void>(Unload());
    name_ = std::move(other.name_);
    other.name_.clear();
  }
  return *this;
}

LSTATUS LoadedHive::Unload() noexcept {
  if (name_.empty())
    return ERROR_SUCCESS;
  const LSTATUS status = UnloadHive(name_);
  name_.clear();
  return status;
}

}  // namespace x5::registry
