// Whole-file reading and atomic file replacement with the Win32 file API.
#include "commands/file_access.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "core/fault.h"
#include "win/job_folder.h"
#include "win/job_folder_win.h"
#include "win/unique_handle.h"

namespace x5::commands {
namespace {

constexpr DWORD kPiece = 1 << 20;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The temporary file sits beside the target, so the final rename stays on one volume.
win::ScopedFileHandle CreateTemporaryBeside(const std::string& path,
                                            std::string& temporary,
                                            DWORD& error) {
  const std::string stem = path + "." + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = stem + std::to_string(attempt) + ".x5tmp";
    win::ScopedFileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      return file;
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  temporary.clear();
  return win::ScopedFileHandle();
}

// The attributes a user sets on a file; the content was replaced, so these carry over.
void KeepAttributes(const std::string& path, DWORD old_attributes) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD now = GetFileAttributesA(path.c_str());
  if (now == INVALID_FILE_ATTRIBUTES || (now & kKept) == (old_attributes & kKept)) {
    return;
  }
  const DWORD wanted = (now & ~kKept) | (old_attributes & kKept);
  SetFileAttributesA(path.c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted);
}

class WinFileAccess final : public FileAccess {
 public:
  ReadOutcome ReadWhole(std::string_view path, int64_t max_bytes, std::string& into) override {
    into.clear();
    try {
      const std::string name(path);
      const DWORD attributes = GetFileAttributesA(name.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return {IsMissing(error) ? ReadOutcome::State::kMissing : ReadOutcome::State::kCheckFailed,
                0, static_cast<int32_t>(error)};
      }
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {ReadOutcome::State::kMissing, 0, ERROR_FILE_NOT_FOUND};
      }
      win::ScopedFileHandle file(CreateFileA(
          name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      if (!file) {
        const DWORD error = GetLastError();
        return {IsMissing(error) ? ReadOutcome::State::kMissing : ReadOutcome::State::kCheckFailed,
                0, static_cast<int32_t>(error)};
      }
      LARGE_INTEGER size{};
      if (!GetFileSizeEx(file.get(), &size)) {
        return {ReadOutcome::State::kCheckFailed, 0, static_cast<int32_t>(GetLastError())};
      }
      if (size.QuadPart > max_bytes) {
        return {ReadOutcome::State::kTooLarge, size.QuadPart, 0};
      }
      into.reserve(static_cast<size_t>(size.QuadPart));
      // Read to the end, not to the size seen: the file may change while it is read.
      std::string piece(kPiece, '\0');
      for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), piece.data(), kPiece, &read, nullptr)) {
          const DWORD error = GetLastError();
          into.clear();
          return {ReadOutcome::State::kReadFailed, 0, static_cast<int32_t>(error)};
        }
        if (read == 0) {
          break;
        }
        if (static_cast<int64_t>(into.size()) + read > max_bytes) {
          const int64_t seen = static_cast<int64_t>(into.size()) + read;
          into.clear();
          return {ReadOutcome::State::kTooLarge, std::max<int64_t>(seen, size.QuadPart), 0};
        }
        into.append(piece.data(), read);
      }
      return {ReadOutcome::State::kRead, static_cast<int64_t>(into.size()), 0};
    } catch (...) {
      core::UnexpectedFault("ReadWhole");
      into.clear();
      return {ReadOutcome::State::kReadFailed, 0, ERROR_NOT_ENOUGH_MEMORY};
    }
  }

  WriteOutcome WriteAtomically(std::string_view path, std::string_view content) override {
    try {
      const std::string target(path);
      std::string temporary;
      DWORD error = 0;
      {
        win::ScopedFileHandle file = CreateTemporaryBeside(target, temporary, error);
        if (!file) {
          return {WriteOutcome::State::kWriteFailed, static_cast<int32_t>(error)};
        }
        size_t done = 0;
        bool ok = true;
        while (ok && done < content.size()) {
          const DWORD piece = static_cast<DWORD>(std::min<size_t>(content.size() - done, kPiece));
          DWORD written = 0;
          ok = WriteFile(file.get(), content.data() + done, piece, &written, nullptr) &&
               written == piece;
          done += written;
        }
        ok = ok && FlushFileBuffers(file.get());
        if (!ok) {
          error = GetLastError();
          file.reset();
          DeleteFileA(temporary.c_str());
          return {WriteOutcome::State::kWriteFailed,
                  static_cast<int32_t>(error != 0 ? error : ERROR_WRITE_FAULT)};
        }
      }

      const DWORD attributes = GetFileAttributesA(target.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (MoveFileExA(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
          return {WriteOutcome::State::kWritten, 0};
        }
        error = GetLastError();
        DeleteFileA(temporary.c_str());
        return {WriteOutcome::State::kReplaceFailed, static_cast<int32_t>(error)};
      }
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        DeleteFileA(temporary.c_str());
        return {WriteOutcome::State::kReplaceFailed, ERROR_ACCESS_DENIED};
      }
      // ReplaceFileA keeps the old file's security and creation time, and on Windows its
      // attributes; those are set again for platforms whose ReplaceFileA drops them.
      if (ReplaceFileA(target.c_str(), temporary.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                       nullptr)) {
        KeepAttributes(target, attributes);
        return {WriteOutcome::State::kWritten, 0};
      }
      error = GetLastError();
      if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        // The old file is gone and the new content sits under the temporary name: move it.
        if (MoveFileExA(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
          KeepAttributes(target, attributes);
          return {WriteOutcome::State::kWritten, 0};
        }
        // Keep the temporary file: it is now the only copy of the content.
        return {WriteOutcome::State::kReplaceFailed, static_cast<int32_t>(GetLastError())};
      }
      DeleteFileA(temporary.c_str());
      return {WriteOutcome::State::kReplaceFailed, static_cast<int32_t>(error)};
    } catch (...) {
      core::UnexpectedFault("WriteAtomically");
      return {WriteOutcome::State::kWriteFailed, ERROR_NOT_ENOUGH_MEMORY};
    }
  }

  WriteOutcome WriteJobFile(std::string_view path,
                            std::string_view content,
                            std::string& refusal) override {
    try {
      refusal.clear();
      const std::optional<win::FolderAndName> split =
          win::SplitFolderAndName(win::AbsolutePath(path));
      if (!split)
        return {WriteOutcome::State::kWriteFailed, ERROR_INVALID_NAME};
      win::JobFolder folder = win::JobFolder::Open(split->folder, path);
      win::JobFileOutcome outcome = folder.Replace(split->name, win::TemporaryNameFor(split->name),
                                                   {win::AsBytes(content)}, true);
      if (outcome.Done())
        return {WriteOutcome::State::kWritten, 0};
      refusal = std::move(outcome.refusal);
      return {WriteOutcome::State::kWriteFailed, static_cast<int32_t>(outcome.error)};
    } catch (...) {
      core::UnexpectedFault("WriteJobFile");
      return {WriteOutcome::State::kWriteFailed, ERROR_NOT_ENOUGH_MEMORY};
    }
  }

  std::string ErrorText(int32_t error) override {
    try {
      char* buffer = nullptr;
      const DWORD length = FormatMessageA(
          FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
              FORMAT_MESSAGE_IGNORE_INSERTS,
          nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
      if (length == 0 || buffer == nullptr) {
        return "Unknown error";
      }
      std::string text(buffer, length);
      LocalFree(buffer);
      while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
      }
      return text;
    } catch (...) {
      core::UnexpectedFault("ErrorText");
      return {};
    }
  }
};

}  // namespace

std::unique_ptr<FileAccess> MakeSystemFileAccess() {
  return std::make_unique<WinFileAccess>();
}

}  // namespace x5::commands
