// The RC file on Windows: a byte-range lock on "<file>.lock" and a write by replacing move, both
// through the job-folder helper the runner writes its job folders with (no link followed, only
// plain files with one name, the replaced file's access rules kept).
#include <windows.h>

#include <string>

#include "win/job_folder.h"
#include "win/job_folder_win.h"
#include "win/unique_handle.h"
#include "x5ctl/host/failure_win.h"
#include "x5ctl/host/rc_file.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::host {
namespace {

// Windows locks keep others from reading the locked bytes: the lock lies far beyond the holder's
// note, so that a refused step can still read who holds it.
constexpr DWORD kLockOffsetHigh = 0x40000000;

std::string HolderText(HANDLE file) {
  char buffer[512];
  DWORD got = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(file, buffer, sizeof buffer, &got, nullptr) || got == 0)
    return {};
  std::string text(buffer, got);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text::VisibleText(text);
}

class WinRcFile final : public RcFile {
 public:
  WinRcFile(std::filesystem::path path,
            win::JobFolder folder,
            std::string name,
            win::ScopedFileHandle lock)
      : RcFile(std::move(path)),
        folder_(std::move(folder)),
        name_(std::move(name)),
        lock_(std::move(lock)) {}
  ~WinRcFile() override {
    // The holder's note goes before the lock does, so that no note outlives its holder's lock.
    if (SetFilePointer(lock_.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
      SetEndOfFile(lock_.get());
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(lock_.get(), 0, 1, 0, &at);
  }

  core::Result<std::optional<int32_t>> Read() const override {
    const std::string path = path_.string();
    switch (folder_.Kind(name_)) {
      case win::JobEntryKind::kMissing:
        return std::optional<int32_t>();
      case win::JobEntryKind::kOther:
        return core::Failure{path +
                                 " is not a regular file in its folder (a link, a folder or a "
                                 "device); it is not read",
                             ERROR_ACCESS_DENIED};
      case win::JobEntryKind::kPlainFile:
        break;
    }
    win::ScopedFileHandle file = folder_.OpenForReading(name_);
    if (!file)
      return SystemFailure(path + ": cannot read the RC file");
    std::string text(kRcFileMaxBytes + 1, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr))
      return SystemFailure(path + ": cannot read the RC file");
    text.resize(got);
    return RcFromText(path_, text);
  }

  core::Result<void> Write(int32_t rc) override {
    const std::string text = RcFileText(rc);
    const win::JobFileOutcome outcome =
        folder_.Replace(name_, win::TemporaryNameFor(name_), {win::AsBytes(text)}, true);
    if (!outcome.Done())
      return OutcomeFailure(path_.string() + ": cannot replace the RC file", outcome);
    return {};
  }

 private:
  // Kinds and opens go through the folder held open; the helper's calls do not change it.
  mutable win::JobFolder folder_;
  std::string name_;
  win::ScopedFileHandle lock_;
};

}  // namespace

core::Result<std::unique_ptr<RcFile>> LockRcFile(const std::filesystem::path& path,
                                                 std::string_view what) {
  const std::string lock_path = RcLockPath(path).string();
  const std::optional<win::FolderAndName> split =
      win::SplitFolderAndName(win::AbsolutePath(path.string()));
  if (!split)
    return core::Failure{path.string() + ": not a file name", ERROR_INVALID_NAME};
  win::JobFolder folder = win::JobFolder::Open(split->folder, lock_path);
  if (!folder)
    return OutcomeFailure(split->folder + ": cannot open the RC file's folder", folder.Failure());
  win::JobFileOutcome opened;
  win::ScopedFileHandle lock = folder.OpenOrCreate(split->name + ".lock", opened);
  if (!lock)
    return OutcomeFailure(lock_path + ": cannot open the RC file's lock", opened);
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (!LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    if (GetLastError() == ERROR_LOCK_VIOLATION) {
      const std::string who = HolderText(lock.get());
      return core::Failure{path.string() + ": another step of this job holds the RC file" +
                               (who.empty() ? std::string() : " (" + who + ")") +
                               "; steps of one job run one after the other",
                           ERROR_LOCK_VIOLATION};
    }
    return SystemFailure(lock_path + ": cannot lock the RC file");
  }
  // Who holds it, for a step refused meanwhile; a failure here only loses that note.
  char host[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD host_size = sizeof host;
  GetComputerNameA(host, &host_size);
  const std::string holder = RcHolderNote(GetCurrentProcessId(), host, what);
  DWORD wrote = 0;
  if (SetFilePointer(lock.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
      SetEndOfFile(lock.get()))
    WriteFile(lock.get(), holder.data(), static_cast<DWORD>(holder.size()), &wrote, nullptr);
  return std::unique_ptr<RcFile>(
      std::make_unique<WinRcFile>(path, std::move(folder), split->name, std::move(lock)));
}

}  // namespace x5::ctl::host
