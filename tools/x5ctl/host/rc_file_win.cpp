// The RC file on Windows: a byte-range lock on "<file>.lock" and a write by replacing move.
#include <windows.h>

#include <string>

#include "win/unique_handle.h"
#include "x5ctl/host/rc_file.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::host {
namespace {

core::Failure SystemFailure(const std::string& what) {
  const DWORD code = GetLastError();
  return core::Failure{what + " (error " + std::to_string(code) + ")", code};
}

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
  WinRcFile(std::filesystem::path path, HANDLE lock) : RcFile(std::move(path)), lock_(lock) {}
  ~WinRcFile() override {
    // The holder's note goes before the lock does, so that no note outlives its holder's lock.
    if (SetFilePointer(lock_.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
      SetEndOfFile(lock_.get());
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(lock_.get(), 0, 1, 0, &at);
  }

  core::Result<void> Write(int32_t rc) override {
    const std::string target = path_.string();
    const std::string temp = target + ".tmp-" + std::to_string(GetCurrentProcessId());
    {
      win::ScopedFileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file)
        return SystemFailure(temp + ": cannot make the RC file's temporary file");
      const std::string text = RcFileText(rc);
      DWORD wrote = 0;
      if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ||
          wrote != text.size() || !FlushFileBuffers(file.get())) {
        core::Failure failure = SystemFailure(temp + ": cannot write the new RC");
        file.reset();
        DeleteFileA(temp.c_str());
        return failure;
      }
    }
    if (!MoveFileExA(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      core::Failure failure = SystemFailure(target + ": cannot replace the RC file");
      DeleteFileA(temp.c_str());
      return failure;
    }
    return {};
  }

 private:
  win::ScopedFileHandle lock_;
};

}  // namespace

core::Result<std::optional<int32_t>> RcFile::Read() const {
  const std::string path = path_.string();
  win::ScopedFileHandle file(CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND)
      return std::optional<int32_t>();
    return SystemFailure(path + ": cannot read the RC file");
  }
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return SystemFailure(path + ": cannot read the RC file");
  if ((tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      GetFileType(file.get()) != FILE_TYPE_DISK)
    return core::Failure{path +
                             " is not a regular file (a link, a folder or a device); it is "
                             "not read",
                         ERROR_ACCESS_DENIED};
  std::string text(kRcFileMaxBytes + 1, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr))
    return SystemFailure(path + ": cannot read the RC file");
  text.resize(got);
  return RcFromText(path_, text);
}

core::Result<std::unique_ptr<RcFile>> LockRcFile(const std::filesystem::path& path,
                                                 std::string_view what) {
  const std::string lock_path = RcLockPath(path).string();
  win::ScopedFileHandle lock(CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!lock)
    return SystemFailure(lock_path + ": cannot open the RC file's lock");
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
  return std::unique_ptr<RcFile>(std::make_unique<WinRcFile>(path, lock.release()));
}

}  // namespace x5::ctl::host
