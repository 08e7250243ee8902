// --drive mappings: Windows paths onto local folders.
#include "x5ctl/host/drive_map.h"

#include <algorithm>
#include <system_error>

#include "core/ascii_text.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::host {
namespace {

namespace fs = std::filesystem;

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

fs::path PathFromAnsi(std::string_view ansi) {
  const std::string utf8 = text::Utf8FromAnsi(ansi);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

bool LooksLikeShortName(std::string_view component) {
  const size_t tilde = component.find('~');
  return tilde != std::string_view::npos && tilde + 1 < component.size() &&
         component[tilde + 1] >= '0' && component[tilde + 1] <= '9';
}

// One path component inside `directory`: the entry of that name, else one whose name differs only
// in the case of ASCII letters, else the name as given (a file that does not exist).
fs::path Component(const fs::path& directory, std::string_view ansi) {
  const fs::path exact = directory / PathFromAnsi(ansi);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(exact, ec)))
    return exact;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<std::string> name = AnsiName(it->path().filename());
    if (name && core::EqualIgnoringCase(*name, ansi))
      return it->path();
  }
  return exact;
}

// Splits at backslashes; "." is dropped, ".." goes up (never above the root), and trailing dots
// and blanks of a component are dropped, as Windows normalises names.
std::vector<std::string> Components(std::string_view rest) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string_view::npos)
      end = rest.size();
    std::string part(rest.substr(start, end - start));
    if (part == "..") {
      if (!parts.empty())
        parts.pop_back();
    } else if (part != ".") {
      while (!part.empty() && (part.back() == '.' || part.back() == ' '))
        part.pop_back();
      if (!part.empty())
        parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::optional<std::string> AnsiName(const fs::path& name) {
  const std::u8string utf8 = name.u8string();
  core::Result<std::string> ansi =
      text::AnsiFromUtf8(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
  if (!ansi)
    return std::nullopt;
  return std::move(*ansi);
}

core::Result<void> DriveMap::Add(std::string_view mapping, const fs::path& base) {
  const size_t equals = mapping.find('=');
  if (equals == std::string_view::npos || equals + 1 == mapping.size()) {
    return core::Failure{"--drive \"" + std::string(mapping) +
                         "\": write DRIVE=DIR, e.g. C=./c-drive"};
  }
  std::string key(mapping.substr(0, equals));
  std::replace(key.begin(), key.end(), '/', '\\');
  while (key.size() > 2 && key.back() == '\\')
    key.pop_back();
  Entry entry;
  if ((key.size() == 1 || (key.size() == 2 && key[1] == ':')) && IsLetter(key[0])) {
    entry.prefix = std::string(1, core::UpperAscii(key[0])) + ":";
  } else if (key.starts_with("\\\\") && key.find('\\', 2) != std::string::npos &&
             key.find('\\', key.find('\\', 2) + 1) == std::string::npos) {
    entry.prefix = core::UpperAscii(key);
  } else {
    return core::Failure{"--drive \"" + std::string(mapping) +
                         "\": the drive is a letter (C) or \\\\server\\share"};
  }
  entry.given = std::string(mapping.substr(equals + 1));
  fs::path directory(entry.given);
  entry.directory = directory.is_absolute() ? directory : base / directory;
  std::error_code ec;
  if (!fs::is_directory(entry.directory, ec)) {
    return core::Failure{"--drive \"" + std::string(mapping) + "\": " + entry.given +
                         " is not a folder"};
  }
  for (const Entry& earlier : entries_) {
    if (earlier.prefix != entry.prefix)
      continue;
    // The same place twice is harmless; two places for one drive leave one of them unread.
    if (fs::equivalent(earlier.directory, entry.directory, ec))
      return {};
    return core::Failure{"--drive \"" + std::string(mapping) + "\": " + entry.prefix +
                         " is mapped to " + earlier.given + " already"};
  }
  entries_.push_back(std::move(entry));
  return {};
}

MappedPath DriveMap::Map(std::string_view windows_path) const {
  MappedPath result;
  std::string path(windows_path);
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.starts_with("\\\\?\\") && !path.starts_with("\\\\?\\UNC\\"))
    path.erase(0, 4);
  if (path.empty()) {
    result.problem = "the name is empty";
    return result;
  }
  const bool drive_absolute =
      path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && path[2] == '\\';
  const bool unc = path.starts_with("\\\\");
  if (!drive_absolute && !unc) {
    // Relative to the runner's current directory, or to the root of its drive.
    result.relative = true;
    const std::string& current = current_directory_;
    if (current.empty()) {
      result.problem =
          "a relative name is looked up in the runner's current directory, which the parent "
          "chooses (give it with --current-directory)";
      return result;
    }
    if (path.size() >= 2 && path[1] == ':') {
      if (!core::EqualIgnoringCase(std::string_view(current).substr(0, 2), path.substr(0, 2))) {
        result.problem = "a name such as " + path.substr(0, 2) +
                         "file depends on the runner's current folder on that drive";
        return result;
      }
      path = current + "\\" + path.substr(2);
    } else if (path.front() == '\\') {
      path = current.substr(0, 2) + path;
    } else {
      path = current + "\\" + path;
    }
    MappedPath mapped = Map(path);
    mapped.relative = true;
    return mapped;
  }

  std::string prefix;
  std::string rest;
  if (unc) {
    const size_t server_end = path.find('\\', 2);
    const size_t share_end =
        server_end == std::string::npos ? std::string::npos : path.find('\\', server_end + 1);
    prefix = core::UpperAscii(path.substr(0, share_end));
    rest = share_end == std::string::npos ? std::string() : path.substr(share_end + 1);
    if (prefix.starts_with("\\\\.\\") || prefix.starts_with("\\\\?\\")) {
      result.problem = "device paths are not mapped";
      return result;
    }
  } else {
    prefix = std::string(1, core::UpperAscii(path[0])) + ":";
    rest = path.substr(3);
  }
  const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.prefix == prefix; });
  if (entry == entries_.end()) {
    result.problem = "no --drive mapping covers " + prefix;
    return result;
  }
  fs::path local = entry->directory;
  std::error_code ec;
  for (const std::string& part : Components(rest)) {
    const fs::path next = Component(local, part);
    if (!fs::exists(fs::symlink_status(next, ec)) && LooksLikeShortName(part))
      result.short_name = true;
    local = next;
  }
  result.local = local;
  return result;
}

}  // namespace x5::ctl::host
