// A job's files on Windows, through the job-folder helper the runner writes its job folders with
// (no link followed, only plain files with one name, the replaced file's access rules kept).
#include <windows.h>

#include <optional>
#include <string>

#include "win/job_folder.h"
#include "win/job_folder_win.h"
#include "win/unique_handle.h"
#include "x5ctl/host/failure_win.h"
#include "x5ctl/host/job_files.h"

namespace x5::ctl::host {
namespace {

struct Opened {
  win::JobFolder folder;
  std::string name;
};

core::Result<Opened> OpenFolderOf(const std::filesystem::path& path) {
  const std::optional<win::FolderAndName> split =
      win::SplitFolderAndName(win::AbsolutePath(path.string()));
  if (!split)
    return core::Failure{path.string() + ": not a file name", ERROR_INVALID_NAME};
  win::JobFolder folder = win::JobFolder::Open(split->folder, path.string());
  if (!folder)
    return OutcomeFailure(split->folder + ": cannot open the folder", folder.Failure());
  return Opened{std::move(folder), split->name};
}

}  // namespace

core::Result<void> ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  core::Result<Opened> opened = OpenFolderOf(path);
  if (!opened)
    return std::move(opened).failure();
  const win::JobFileOutcome outcome = opened->folder.Replace(
      opened->name, win::TemporaryNameFor(opened->name), {win::AsBytes(bytes)}, true);
  if (!outcome.Done())
    return OutcomeFailure(path.string() + ": cannot replace it", outcome);
  return {};
}

core::Result<std::optional<std::string>> ReadRegularFile(const std::filesystem::path& path,
                                                         size_t limit) {
  core::Result<Opened> opened = OpenFolderOf(path);
  if (!opened)
    return std::move(opened).failure();
  switch (opened->folder.Kind(opened->name)) {
    case win::JobEntryKind::kMissing:
      return std::optional<std::string>();
    case win::JobEntryKind::kOther:
      return core::Failure{path.string() +
                               " is not a regular file in its folder (a link, a folder or a "
                               "device); it is not read",
                           ERROR_ACCESS_DENIED};
    case win::JobEntryKind::kPlainFile:
      break;
  }
  win::ScopedFileHandle file = opened->folder.OpenForReading(opened->name);
  if (!file)
    return SystemFailure(path.string() + ": cannot read it");
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size))
    return SystemFailure(path.string() + ": cannot read it");
  if (static_cast<uint64_t>(size.QuadPart) > limit)
    return core::Failure{path.string() + ": larger than " + std::to_string(limit) + " bytes"};
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() &&
      !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
    return SystemFailure(path.string() + ": cannot read it");
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
