// Windows paths mapped onto local folders (--drive C=DIR): names matched without regard to the
// case of ASCII letters, "." and ".." and trailing dots and blanks dropped, as Windows does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace x5::ctl::host {

// Where a Windows path leads on this machine.
struct MappedPath {
  std::optional<std::filesystem::path> local;  // set when a mapping covers the path
  std::string problem;                         // why not (for the output), when `local` is not set
  bool short_name = false;  // a component looks like an 8.3 short name and was not found
  bool relative = false;    // the path depended on the runner's current directory
};

// --drive mappings: "C=DIR", "C:=DIR" or "\\server\share=DIR". Names are matched without regard
// to the case of ASCII letters, as Windows does; text is the runner's ANSI (Windows-1252) bytes.
class DriveMap {
 public:
  struct Entry {
    std::string prefix;  // "C:" or "\\SERVER\SHARE", upper case
    std::string given;   // the folder as given on the command line
    std::filesystem::path directory;
  };

  // DIR is taken relative to `base` unless it is absolute. Fails when the mapping cannot be read.
  core::Result<void> Add(std::string_view mapping, const std::filesystem::path& base);
  // The runner's own current directory (a Windows path), against which relative names resolve.
  void SetCurrentDirectory(std::string windows_directory) {
    current_directory_ = std::move(windows_directory);
  }
  const std::string& current_directory() const { return current_directory_; }
  const std::vector<Entry>& entries() const { return entries_; }

  [[nodiscard]] MappedPath Map(std::string_view windows_path) const;

 private:
  std::vector<Entry> entries_;
  std::string current_directory_;
};

// The name of a directory entry in the runner's bytes; nullopt when the code page cannot hold it.
[[nodiscard]] std::optional<std::string> AnsiName(const std::filesystem::path& name);

}  // namespace x5::ctl::host
