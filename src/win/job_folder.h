// Portable rules of the checks made before the runner writes, renames or deletes in a job folder:
// how its paths split, where a final path may lie, and the console line of a refusal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace x5::win {

struct FolderAndName {
  std::string folder;  // no trailing separator, except for a root ("C:\", "\\server\share\")
  std::string name;
};

// True for a path that names a root: "C:", "C:\", "\", "\\server\share" with or without its
// trailing separator, and the same behind a "\\?\" or "\\?\UNC\" prefix.
[[nodiscard]] bool IsRootFolder(std::string_view path) noexcept;

// The path without trailing separators, a root keeping its own ("C:\").
std::string WithoutTrailingSeparator(std::string_view path);

// Splits an absolute path at its last separator ("\" or "/"). nullopt when the path is a root or
// ends in a separator, or when what follows the last separator is not a plain name.
[[nodiscard]] std::optional<FolderAndName> SplitFolderAndName(std::string_view path);

// A name that stays inside the folder it is joined to: not empty, no separator, no ":" (a drive or
// a stream), not "." or "..", no control character, no wildcard.
[[nodiscard]] bool IsPlainName(std::string_view name) noexcept;

// True when `child`, a final path as the system reports it, names one entry directly inside
// `folder`, the final path of the folder the runner opened. Letters compare without regard to
// case; both sides come from the same call, so no other normalisation is needed.
[[nodiscard]] bool LiesDirectlyIn(std::string_view folder, std::string_view child) noexcept;

// Why a write, rename or delete in a job folder was refused.
enum class JobFolderProblem {
  kFolderIsLink,  // the folder is a junction, symbolic link or mount point, or leads elsewhere
  kFolderNotConfirmed,  // where the folder lies could not be read
  kFileIsLink,          // the file is a link, or leads out of its folder
  kFileHasOtherNames,   // the file has hard links: writing it would change them too
  kFileNotConfirmed,    // where the file lies could not be read
};

// The one console line that names the refused file: "***** <path> not written: <reason> *****".
// `action` is "written", "renamed" or "deleted".
std::string RefusalLine(std::string_view path, std::string_view action, JobFolderProblem problem);

}  // namespace x5::win
