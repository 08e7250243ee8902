// The job log on Linux: reached through the Wine prefix when the runner runs through Wine.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "x5ctl/host/job_log_path.h"
#include "x5ctl/host/wine_host.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::host {
namespace {

std::filesystem::path WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0')
    return prefix;
  return DefaultWinePrefix();
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// `name` inside `folder`, or the entry whose name differs only in case.
std::filesystem::path Entry(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  std::filesystem::path exact = folder / name;
  if (std::filesystem::exists(exact, ec))
    return exact;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (SameLetters(it->path().filename().string(), name))
      return it->path();
  }
  return exact;
}

}  // namespace

std::filesystem::path LocalPathOf(const std::string& windows_path, std::string_view wine_command) {
  if (wine_command.find_first_not_of(" \t") == std::string_view::npos)
    return windows_path;
  std::string rest = windows_path;
  std::filesystem::path at;
  if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
    const std::filesystem::path prefix = WinePrefix();
    at = prefix / "dosdevices" / (std::string(1, drive) + ":");
    std::error_code ec;
    if (drive == 'c' && !std::filesystem::exists(at, ec))
      at = prefix / "drive_c";
    rest.erase(0, 2);
  } else if (rest.starts_with("\\\\")) {
    return {};  // a share the runner reaches and x5ctl does not
  } else {
    at = ".";  // relative: the runner started in x5ctl's own folder
  }
  // As on Windows, ".." stops at the drive's root: C:\..\..\etc is C:\etc, never a file of the
  // prefix or outside it.
  const bool drive = at != ".";
  size_t depth = 0;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find_first_of("\\/", start);
    if (end == std::string::npos)
      end = rest.size();
    const std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (!drive || depth > 0) {
        at = at.parent_path();
        depth -= depth > 0 ? 1 : 0;
      }
    } else if (!part.empty() && part != ".") {
      at = Entry(at, part);
      ++depth;
    }
    start = end + 1;
  }
  return at;
}

std::string PrintableJobLog(std::string_view bytes) {
  std::string lines;
  lines.reserve(bytes.size());
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    const bool ended = end != std::string_view::npos;
    if (!ended)
      end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (ended && !line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    // What the step wrote is shown, never obeyed: its escape sequences reach no terminal.
    lines += text::VisibleText(line);
    if (ended)
      lines += '\n';
    start = end + 1;
  }
  return lines;
}

}  // namespace x5::ctl::host
