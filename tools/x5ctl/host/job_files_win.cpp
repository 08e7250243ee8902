// A job's files on Windows: a write by replacing move, reads that refuse reparse points.
#include <windows.h>

#include <string>

#include "win/unique_handle.h"
#include "x5ctl/host/job_files.h"

namespace x5::ctl::host {
namespace {

core::Failure SystemFailure(const std::string& what) {
  const DWORD code = GetLastError();
  return core::Failure{what + " (error " + std::to_string(code) + ")", code};
}

bool Regular(DWORD attributes) {
  return (attributes &
          (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

core::Result<void> ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  const std::string target = path.string();
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !Regular(attributes))
    return core::Failure{target + ": not a regular file (a link, say): left alone"};
  // CREATE_NEW fails on anything already there, a link planted under the name included.
  const std::string temp = target + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount64());
  {
    win::ScopedFileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return SystemFailure(temp + ": cannot make a temporary file");
    DWORD wrote = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
        wrote != bytes.size() || !FlushFileBuffers(file.get())) {
      core::Failure failure = SystemFailure(temp + ": cannot write it");
      file.reset();
      DeleteFileA(temp.c_str());
      return failure;
    }
  }
  if (!MoveFileExA(temp.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    core::Failure failure = SystemFailure(target + ": cannot replace it");
    DeleteFileA(temp.c_str());
    return failure;
  }
  return {};
}

core::Result<std::optional<std::string>> ReadRegularFile(const std::filesystem::path& path,
                                                         size_t limit) {
  const std::string name = path.string();
  win::ScopedFileHandle file(CreateFileA(
      name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
      return std::optional<std::string>();
    return SystemFailure(name + ": cannot open it");
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandle(file.get(), &facts))
    return SystemFailure(name + ": cannot read it");
  if (!Regular(facts.dwFileAttributes))
    return core::Failure{name + ": not a regular file (a link, say): refused"};
  const uint64_t size = (uint64_t{facts.nFileSizeHigh} << 32) | facts.nFileSizeLow;
  if (size > limit)
    return core::Failure{name + ": larger than " + std::to_string(limit) + " bytes"};
  std::string bytes(static_cast<size_t>(size), '\0');
  DWORD got = 0;
  if (!bytes.empty() &&
      !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
    return SystemFailure(name + ": cannot read it");
  bytes.resize(got);
  return std::optional<std::string>(std::move(bytes));
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size))
    return "?";
  return name;
}

int64_t ProcessId() {
  return GetCurrentProcessId();
}

}  // namespace x5::ctl::host
