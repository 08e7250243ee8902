// Portable rules of the checks made before the runner writes, renames or deletes in a job folder:
// how its paths split, where a final path may lie, and the console line of a refusal.
#include "win/job_folder.h"

#include "core/ascii_text.h"

namespace x5::win {
namespace {

bool IsSeparator(char c) noexcept {
  return c == '\\' || c == '/';
}

// The path behind a "\\?\" prefix, with "\\?\UNC\server" turned back into "\\server".
std::string_view WithoutLongPrefix(std::string_view path, bool& unc) noexcept {
  unc = false;
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '?' &&
      IsSeparator(path[3])) {
    path.remove_prefix(4);
    if (path.size() >= 4 && core::StartsWithIgnoringCase(path, "UNC") && IsSeparator(path[3])) {
      path.remove_prefix(4);
      unc = true;
    }
  }
  return path;
}

}  // namespace

bool IsRootFolder(std::string_view path) noexcept {
  bool unc = false;
  path = WithoutLongPrefix(path, unc);
  if (!unc) {
    if (path.size() == 1 && IsSeparator(path[0]))
      return true;
    if ((path.size() == 2 || path.size() == 3) && path[1] == ':')
      return path.size() == 2 || IsSeparator(path[2]);
    if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
      return false;
    path.remove_prefix(2);
  }
  // "server\share", with or without a trailing separator, is the root of a share.
  int names = 0;
  size_t i = 0;
  while (i < path.size()) {
    if (IsSeparator(path[i])) {
      ++i;
      continue;
    }
    ++names;
    while (i < path.size() && !IsSeparator(path[i]))
      ++i;
  }
  return names <= 2;
}

std::string WithoutTrailingSeparator(std::string_view path) {
  while (!path.empty() && IsSeparator(path.back()) && !IsRootFolder(path))
    path.remove_suffix(1);
  return std::string(path);
}

std::optional<FolderAndName> SplitFolderAndName(std::string_view path) {
  if (path.empty() || IsSeparator(path.back()) || IsRootFolder(path))
    return std::nullopt;
  const size_t last = path.find_last_of("\\/");
  if (last == std::string_view::npos)
    return std::nullopt;
  const std::string_view name = path.substr(last + 1);
  if (!IsPlainName(name))
    return std::nullopt;
  const std::string_view with_separator = path.substr(0, last + 1);
  FolderAndName split;
  split.folder = IsRootFolder(with_separator) ? std::string(with_separator)
                                              : WithoutTrailingSeparator(path.substr(0, last));
  split.name = std::string(name);
  return split;
}

bool IsPlainName(std::string_view name) noexcept {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20)
      return false;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool LiesDirectlyIn(std::string_view folder, std::string_view child) noexcept {
  if (folder.empty())
    return false;
  const bool has_separator = IsSeparator(folder.back());
  const size_t prefix = folder.size() + (has_separator ? 0 : 1);
  if (child.size() <= prefix)
    return false;
  if (!core::StartsWithIgnoringCase(child, folder))
    return false;
  if (!has_separator && !IsSeparator(child[folder.size()]))
    return false;
  return child.substr(prefix).find_first_of("\\/") == std::string_view::npos;
}

std::string RefusalLine(std::string_view path, std::string_view action, JobFolderProblem problem) {
  std::string_view reason;
  switch (problem) {
    case JobFolderProblem::kFolderIsLink:
      reason = "its folder is a link (junction, symbolic link or mount point)";
      break;
    case JobFolderProblem::kFolderNotConfirmed:
      reason = "where its folder lies cannot be confirmed";
      break;
    case JobFolderProblem::kFileIsLink:
      reason = "it is a link (junction, symbolic link or mount point)";
      break;
    case JobFolderProblem::kFileHasOtherNames:
      reason = "it has other names (hard links)";
      break;
    case JobFolderProblem::kFileNotConfirmed:
      reason = "where it lies cannot be confirmed";
      break;
  }
  std::string line = "***** ";
  // Paths come from the task and from folder listings: shown, never able to break the line.
  for (char c : path)
    line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  line.append(" not ").append(action).append(": ").append(reason).append(" *****");
  return line;
}

}  // namespace x5::win
