// Where the job log the runner wrote lies for x5ctl, and how it is shown. Per platform:
// host/job_log_path_posix.cpp, host/job_log_path_win.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace x5::ctl::host {

// Where the file that the runner knows by a Windows path lies for x5ctl: on Linux, when the runner
// runs through Wine, inside the Wine prefix (WINEPREFIX, else host::DefaultWinePrefix()) by its
// drive links, each folder matched without regard to case as Wine does; otherwise the path itself.
std::filesystem::path LocalPathOf(const std::string& windows_path, std::string_view wine_command);
// The job log's bytes (the runner's ANSI code page, CR LF) as this system's text: UTF-8 with LF
// line ends on Linux, the bytes as they are on Windows; control characters but the line ends
// written as \xNN on both (text::VisibleText), so a step's escape sequences reach no terminal.
std::string PrintableJobLog(std::string_view bytes);

}  // namespace x5::ctl::host
