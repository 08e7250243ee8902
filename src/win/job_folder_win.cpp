// Writes, renames and deletes in the job's folders without following links: the one way the
// runner changes files in a folder the step's user may control.
#include "win/job_folder_win.h"

#include <aclapi.h>

#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "core/ascii_text.h"
#include "core/fault.h"
#include "win/job_folder.h"

namespace x5::win {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opens a link itself rather than what it leads to, where the platform honours it. Where it does
// not (Wine follows file links regardless), the final-path check below still sees the target.
constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kWritePiece = 1u << 20;

DWORD LastErrorCode() noexcept {
  const DWORD error = GetLastError();
  return error == 0 ? ERROR_GEN_FAILURE : error;
}

JobFileOutcome Failed(DWORD error) {
  return JobFileOutcome{JobFileOutcome::State::kFailed, error, {}};
}

JobFileOutcome Refused(std::string_view path, std::string_view action, JobFolderProblem problem) {
  return JobFileOutcome{JobFileOutcome::State::kFailed, ERROR_ACCESS_DENIED,
                        RefusalLine(path, action, problem)};
}

}  // namespace

std::string AbsolutePath(std::string_view path) {
  const std::string given(path);
  char small[MAX_PATH];
  const DWORD n = GetFullPathNameA(given.c_str(), sizeof(small), small, nullptr);
  if (n == 0)
    return {};
  if (n < sizeof(small))
    return std::string(small, n);
  std::string large(n, '\0');
  const DWORD m = GetFullPathNameA(given.c_str(), n, large.data(), nullptr);
  if (m == 0 || m >= n)
    return {};
  large.resize(m);
  return large;
}

namespace {

// Where the entry behind the handle really lies, as "\\?\C:\..." or "\\?\UNC\...".
std::optional<std::string> FinalPathOf(HANDLE handle) {
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  char small[MAX_PATH + 8];
  const DWORD n = GetFinalPathNameByHandleA(handle, small, sizeof(small), kFlags);
  if (n == 0)
    return std::nullopt;
  if (n < sizeof(small))
    return std::string(small, n);
  std::string large(n, '\0');
  const DWORD m = GetFinalPathNameByHandleA(handle, large.data(), n, kFlags);
  if (m == 0 || m >= n)
    return std::nullopt;
  large.resize(m);
  return large;
}

// The attributes of the entry behind the handle. (GetFileInformationByHandle would also ask for
// the volume's serial number, which costs milliseconds under Wine.)
std::optional<DWORD> Attributes(HANDLE handle) noexcept {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)))
    return std::nullopt;
  return tag.FileAttributes;
}

std::string_view LastPart(std::string_view path) noexcept {
  const size_t at = path.find_last_of("\\/");
  return at == std::string_view::npos ? path : path.substr(at + 1);
}

// Why the entry behind `handle`, opened as `opened`, may not be changed; nullopt when it may.
// `attributes` gets its attributes. With `single_name`, a file with hard links is refused too (it
// is written in place).
std::optional<JobFolderProblem> EntryProblem(HANDLE handle,
                                             const std::string& folder_final,
                                             std::string_view opened,
                                             bool single_name,
                                             DWORD& attributes) {
  const std::optional<DWORD> read = Attributes(handle);
  if (!read)
    return JobFolderProblem::kFileNotConfirmed;
  attributes = *read;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return JobFolderProblem::kFileIsLink;
  const std::optional<std::string> final_path = FinalPathOf(handle);
  if (!final_path)
    return JobFolderProblem::kFileNotConfirmed;
  if (!LiesDirectlyIn(folder_final, *final_path))
    return JobFolderProblem::kFileIsLink;
  if (single_name) {
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard)))
      return JobFolderProblem::kFileNotConfirmed;
    if (standard.NumberOfLinks > 1)
      return JobFolderProblem::kFileHasOtherNames;
  }
  // Where file links are followed although asked not to be (Wine), a link to another file of the
  // same folder shows only by its name.
  if (!core::EqualIgnoringCase(LastPart(*final_path), LastPart(opened)))
    return JobFolderProblem::kFileIsLink;
  return std::nullopt;
}

bool Dispose(HANDLE handle) noexcept {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof(disposition)) != FALSE;
}

// The access rules (DACL) of the entry behind `handle`, opened with READ_CONTROL; null when it has
// none to read. Freed with LocalFree.
struct LocalFreer {
  void operator()(void* memory) const noexcept { LocalFree(memory); }
};
using AccessRules = std::unique_ptr<void, LocalFreer>;

struct KeptRules {
  AccessRules descriptor;
  PACL dacl = nullptr;
  SECURITY_INFORMATION protection = UNPROTECTED_DACL_SECURITY_INFORMATION;
};

// Wine derives a file's access rules from its Unix mode and maps rules given to it back onto the
// mode with the owner's rights for its group too and the folder's inherited ones added, so a
// copied rule set would come out broader than the one copied. There the new file keeps the mode
// Wine gives a new file (the umask, or the folder's default ACL).
bool AccessRulesMapOntoUnixModes() noexcept {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::optional<KeptRules> RulesOf(HANDLE handle) noexcept {
  KeptRules kept;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &kept.dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return std::nullopt;
  kept.descriptor.reset(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision) &&
      (control & SE_DACL_PROTECTED) != 0)
    kept.protection = PROTECTED_DACL_SECURITY_INFORMATION;
  return kept;
}

// "C:\x\y" as the system's own name ("\??\C:\x\y", "\??\UNC\server\share\y"), in UTF-16.
std::wstring SystemNameOf(const std::string& path) {
  std::string name;
  if (path.starts_with("\\\\?\\"))
    name = "\\??\\" + path.substr(4);
  else if (path.starts_with("\\\\"))
    name = "\\??\\UNC\\" + path.substr(2);
  else
    name = "\\??\\" + path;
  const int n =
      MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
  return wide;
}

// Renames the open file behind `handle` (opened with DELETE) to `target`, replacing it: the name
// moved is the file this handle holds, whatever its old name leads to meanwhile.
bool RenameThrough(HANDLE handle, const std::string& target) {
  const std::wstring name = SystemNameOf(target);
  if (name.empty())
    return false;
  const size_t bytes = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(bytes, 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), info->FileName);
  return SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(bytes)) !=
         FALSE;
}

bool WriteAll(HANDLE file, std::span<const uint8_t> bytes) noexcept {
  while (!bytes.empty()) {
    const DWORD piece = bytes.size() > kWritePiece ? kWritePiece : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), piece, &written, nullptr) || written == 0)
      return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

}  // namespace

JobFolder JobFolder::Open(std::string_view folder,
                          std::string_view file_for_refusal,
                          std::string_view action) noexcept {
  JobFolder opened;
  try {
    const std::string full = WithoutTrailingSeparator(AbsolutePath(folder));
    const std::string_view shown =
        file_for_refusal.empty() ? std::string_view(full) : file_for_refusal;
    if (full.empty()) {
      opened.failure_ = Failed(LastErrorCode());
      return opened;
    }
    // No FILE_SHARE_DELETE: while the runner holds the folder, nobody renames it or puts a link
    // in its place.
    ScopedFileHandle handle(CreateFileA(full.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | kNoFollow, nullptr));
    if (!handle) {
      opened.failure_ = Failed(LastErrorCode());
      return opened;
    }
    const std::optional<DWORD> attributes = Attributes(handle.get());
    if (!attributes) {
      opened.failure_ = Refused(shown, action, JobFolderProblem::kFolderNotConfirmed);
      return opened;
    }
    if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      opened.failure_ = Refused(shown, action, JobFolderProblem::kFolderIsLink);
      return opened;
    }
    if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      opened.failure_ = Failed(ERROR_DIRECTORY);
      return opened;
    }
    const std::optional<std::string> final_path = FinalPathOf(handle.get());
    if (!final_path) {
      opened.failure_ = Refused(shown, action, JobFolderProblem::kFolderNotConfirmed);
      return opened;
    }
    // The folders above belong to whoever named this one; this one must lie directly in them.
    if (!IsRootFolder(full)) {
      const std::optional<FolderAndName> split = SplitFolderAndName(full);
      std::optional<std::string> parent_final;
      if (split) {
        ScopedFileHandle parent(CreateFileA(split->folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
        if (parent)
          parent_final = FinalPathOf(parent.get());
      }
      if (!parent_final) {
        opened.failure_ = Refused(shown, action, JobFolderProblem::kFolderNotConfirmed);
        return opened;
      }
      if (!LiesDirectlyIn(*parent_final, *final_path)) {
        opened.failure_ = Refused(shown, action, JobFolderProblem::kFolderIsLink);
        return opened;
      }
    }
    opened.path_ = full;
    if (opened.path_.back() != '\\' && opened.path_.back() != '/')
      opened.path_ += '\\';
    opened.final_path_ = *final_path;
    opened.handle_ = std::move(handle);
    return opened;
  } catch (const std::exception&) {
    core::UnexpectedFault("JobFolder::Open");
    JobFolder failed;
    failed.failure_ = Failed(ERROR_NOT_ENOUGH_MEMORY);
    return failed;
  }
}

ScopedFileHandle JobFolder::CreateOrEmpty(std::string_view name, JobFileOutcome& outcome) noexcept {
  return OpenPlainFile(name, true, outcome);
}

ScopedFileHandle JobFolder::OpenOrCreate(std::string_view name, JobFileOutcome& outcome) noexcept {
  return OpenPlainFile(name, false, outcome);
}

ScopedFileHandle JobFolder::OpenPlainFile(std::string_view name,
                                          bool empty,
                                          JobFileOutcome& outcome) noexcept {
  try {
    outcome = JobFileOutcome{};
    if (!handle_) {
      outcome = failure_;
      return {};
    }
    if (!IsPlainName(name)) {
      outcome = Failed(ERROR_INVALID_NAME);
      return {};
    }
    const std::string path = path_ + std::string(name);
    const DWORD access = GENERIC_WRITE | FILE_READ_ATTRIBUTES | (empty ? 0 : GENERIC_READ);
    const DWORD share = empty ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr DWORD kFlags = kNoFollow | FILE_ATTRIBUTE_NORMAL;
    ScopedFileHandle file;
    for (int attempt = 0; attempt < 2 && !file; ++attempt) {
      file.reset(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, kFlags, nullptr));
      if (file)
        break;
      if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        outcome = Failed(LastErrorCode());
        return {};
      }
      // CREATE_NEW follows no link: a link of this name, also one that leads nowhere, fails it.
      file.reset(CreateFileA(path.c_str(), access, share, nullptr, CREATE_NEW, kFlags, nullptr));
      const DWORD error = file ? 0 : GetLastError();
      if (!file && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        outcome = Failed(LastErrorCode());
        return {};
      }
    }
    // Neither there to open nor free to create: a link that leads nowhere.
    if (!file) {
      outcome = Refused(path, "written", JobFolderProblem::kFileIsLink);
      return {};
    }
    DWORD attributes = 0;
    if (const auto problem = EntryProblem(file.get(), final_path_, path, true, attributes)) {
      outcome = Refused(path, "written", *problem);
      return {};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || GetFileType(file.get()) != FILE_TYPE_DISK) {
      outcome = Failed(ERROR_ACCESS_DENIED);
      return {};
    }
    // Emptied only now that it is known to be the file meant.
    const LARGE_INTEGER start{};
    if (empty &&
        (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))) {
      outcome = Failed(LastErrorCode());
      return {};
    }
    return file;
  } catch (const std::exception&) {
    core::UnexpectedFault("OpenPlainFile");
    outcome = Failed(ERROR_NOT_ENOUGH_MEMORY);
    return {};
  }
}

JobFileOutcome JobFolder::Replace(std::string_view name,
                                  std::string_view temporary,
                                  std::initializer_list<std::span<const uint8_t>> pieces,
                                  bool flush) noexcept {
  try {
    if (!handle_)
      return failure_;
    if (!IsPlainName(name) || !IsPlainName(temporary) || name == temporary)
      return Failed(ERROR_INVALID_NAME);
    const std::string target = path_ + std::string(name);
    const std::string temporary_path = path_ + std::string(temporary);
    // The new file gets the access rules of the one it replaces (a job log made owner-only stays
    // so), or the folder's when there is none.
    std::optional<KeptRules> kept;
    {
      ScopedFileHandle existing(CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                            kShareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | kNoFollow, nullptr));
      if (existing) {
        DWORD attributes = 0;
        if (const auto problem =
                EntryProblem(existing.get(), final_path_, target, false, attributes))
          return Refused(target, "written", *problem);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          return Failed(ERROR_ACCESS_DENIED);
        if (!AccessRulesMapOntoUnixModes()) {
          kept = RulesOf(existing.get());
          if (!kept)
            return Failed(LastErrorCode());
        }
      } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return Failed(LastErrorCode());
      }
    }

    constexpr DWORD kAccess = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | WRITE_DAC;
    ScopedFileHandle file(CreateFileA(temporary_path.c_str(), kAccess, 0, nullptr, CREATE_NEW,
                                      kNoFollow | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
      // Left by a run that ended before it could rename it; if it stays, the create below says so.
      (void)Delete(temporary);
      file.reset(CreateFileA(temporary_path.c_str(), kAccess, 0, nullptr, CREATE_NEW,
                             kNoFollow | FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!file)
      return Failed(LastErrorCode());
    DWORD attributes = 0;
    if (const auto problem =
            EntryProblem(file.get(), final_path_, temporary_path, true, attributes))
      return Refused(temporary_path, "written", *problem);

    if (kept && kept->dacl != nullptr) {
      const DWORD error =
          SetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | kept->protection,
                          nullptr, nullptr, kept->dacl, nullptr);
      if (error != ERROR_SUCCESS) {
        Dispose(file.get());
        return Failed(error);
      }
    }
    bool written = true;
    for (std::span<const uint8_t> piece : pieces)
      written = written && WriteAll(file.get(), piece);
    if (written && flush)
      written = FlushFileBuffers(file.get()) != FALSE;
    if (!written) {
      const DWORD error = LastErrorCode();
      Dispose(file.get());
      return Failed(error);
    }
    // Renamed through its handle: what is moved over the name is the file just written, whatever
    // its name leads to meanwhile.
    if (!RenameThrough(file.get(), target)) {
      const DWORD error = LastErrorCode();
      Dispose(file.get());  // the rename's failure is the one to report
      return Failed(error);
    }
    if (flush && !FlushFileBuffers(file.get()))
      return Failed(LastErrorCode());
    return JobFileOutcome{};
  } catch (const std::exception&) {
    core::UnexpectedFault("Replace");
    return Failed(ERROR_NOT_ENOUGH_MEMORY);
  }
}

JobFileOutcome JobFolder::Delete(std::string_view name) noexcept {
  try {
    if (!handle_)
      return failure_;
    if (!IsPlainName(name))
      return Failed(ERROR_INVALID_NAME);
    const std::string path = path_ + std::string(name);
    ScopedFileHandle file(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | kNoFollow, nullptr));
    if (!file) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND
                 ? JobFileOutcome{JobFileOutcome::State::kNothingToDelete, 0, {}}
                 : Failed(LastErrorCode());
    }
    DWORD attributes = 0;
    if (const auto problem = EntryProblem(file.get(), final_path_, path, false, attributes))
      return Refused(path, "deleted", *problem);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return Failed(ERROR_ACCESS_DENIED);
    if (!Dispose(file.get()))
      return Failed(LastErrorCode());
    return JobFileOutcome{};
  } catch (const std::exception&) {
    core::UnexpectedFault("Delete");
    return Failed(ERROR_NOT_ENOUGH_MEMORY);
  }
}

ScopedFileHandle JobFolder::OpenForReading(std::string_view name) noexcept {
  try {
    if (!handle_ || !IsPlainName(name))
      return {};
    return OpenForReadingIn(final_path_, path_ + std::string(name));
  } catch (const std::exception&) {
    core::UnexpectedFault("OpenForReading");
    return {};
  }
}

JobEntryKind JobFolder::Kind(std::string_view name) noexcept {
  try {
    if (!handle_ || !IsPlainName(name))
      return JobEntryKind::kOther;
    const std::string path = path_ + std::string(name);
    ScopedFileHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | kNoFollow,
                                      nullptr));
    if (!file) {
      return GetLastError() == ERROR_FILE_NOT_FOUND ? JobEntryKind::kMissing : JobEntryKind::kOther;
    }
    DWORD attributes = 0;
    if (EntryProblem(file.get(), final_path_, path, false, attributes) ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return JobEntryKind::kOther;
    }
    return JobEntryKind::kPlainFile;
  } catch (const std::exception&) {
    core::UnexpectedFault("Kind");
    return JobEntryKind::kOther;
  }
}

ScopedFileHandle OpenForReadingIn(const std::string& folder_final,
                                  const std::string& path) noexcept {
  try {
    ScopedFileHandle file(CreateFileA(path.c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES, kShareAll,
                                      nullptr, OPEN_EXISTING, kNoFollow, nullptr));
    DWORD attributes = 0;
    if (!file || EntryProblem(file.get(), folder_final, path, false, attributes) ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return {};
    }
    return file;
  } catch (const std::exception&) {
    core::UnexpectedFault("OpenForReadingIn");
    return {};
  }
}

std::string TemporaryNameFor(std::string_view name) {
  std::string temporary(name);
  temporary += '.';
  temporary += std::to_string(GetCurrentProcessId());
  temporary += ".x5tmp";
  return temporary;
}

}  // namespace x5::win
