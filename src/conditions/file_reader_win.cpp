// Win32 rule files: attribute lookup of ordinary files, and chunk reads with ReadFile that move the
// file pointer only when the next read does not continue where the last one ended.
#include <windows.h>

#include <string>
#include <utility>

#include "conditions/file_reader.h"
#include "core/fault.h"
#include "win/unique_handle.h"

namespace x5::conditions {
namespace {

core::Failure ReadFailure(DWORD error) {
  return core::Failure{"the file cannot be read", error};
}

class Win32FileReader final : public ChunkReader {
 public:
  explicit Win32FileReader(win::ScopedFileHandle&& file) noexcept : file_(std::move(file)) {}

  core::Result<int64_t> Size() const override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size))
      return ReadFailure(GetLastError());
    return int64_t{size.QuadPart};
  }

  core::Result<int64_t> ReadAt(int64_t offset, std::span<uint8_t> into) override {
    if (offset < 0)
      return ReadFailure(ERROR_NEGATIVE_SEEK);
    // Sequential reads need no seek; a separate seek per read costs noticeably at small chunks.
    if (offset != position_) {
      LARGE_INTEGER to{};
      to.QuadPart = offset;
      if (!SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN)) {
        position_ = -1;
        return ReadFailure(GetLastError());
      }
      position_ = offset;
    }
    constexpr size_t kMaxCall = size_t{1} << 30;
    const DWORD want = static_cast<DWORD>(into.size() < kMaxCall ? into.size() : kMaxCall);
    DWORD got = 0;
    if (!ReadFile(file_.get(), into.data(), want, &got, nullptr)) {
      position_ = -1;
      return ReadFailure(GetLastError());
    }
    position_ += got;
    return int64_t{got};
  }

 private:
  win::ScopedFileHandle file_;
  int64_t position_ = 0;  // where the file pointer stands; -1 when unknown
};

class Win32RuleFiles final : public SystemRuleFiles {
 public:
  std::optional<FileFacts> Find(std::string_view name) override {
    if (!NamesOneFile(name))
      return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(std::string(name).c_str(), GetFileExInfoStandard, &data))
      return std::nullopt;
    constexpr DWORD kNotOrdinary =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (data.dwFileAttributes & kNotOrdinary)
      return std::nullopt;
    FileFacts facts;
    facts.size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    facts.archive = (data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
    facts.read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return facts;
  }
};

}  // namespace

core::Result<std::unique_ptr<ChunkReader>> OpenFileReader(std::string_view path,
                                                          bool exclusive) noexcept {
  if (path.find('\0') != std::string_view::npos)
    return core::Failure{"cannot open", ERROR_INVALID_NAME};
  try {
    // Shared mode lets the step (or anyone) keep writing the log being checked; exclusive mode
    // fails while anybody has the file open and keeps everybody out while it is open.
    const DWORD share = exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    win::ScopedFileHandle file(CreateFileA(std::string(path).c_str(), GENERIC_READ, share, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return core::Failure{"cannot open", GetLastError()};
    return std::unique_ptr<ChunkReader>(std::make_unique<Win32FileReader>(std::move(file)));
  } catch (...) {
    core::UnexpectedFault("OpenFileReader");
    return core::Failure{"cannot open", ERROR_NOT_ENOUGH_MEMORY};
  }
}

std::unique_ptr<RuleFiles> MakeSystemRuleFiles() {
  return std::make_unique<Win32RuleFiles>();
}

}  // namespace x5::conditions
