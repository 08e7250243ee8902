// The runner's own console (the job log): open, title, write lines, save text, size, close.
#include "console/console_win.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "console/console_layout.h"
#include "core/fault.h"
#include "core/os_level.h"
#include "win/job_folder.h"
#include "win/job_folder_win.h"

namespace x5::console {
namespace {

// Keyboard breaks and close events in the job log never stop the runner.
BOOL WINAPI IgnoreControlEvent(DWORD) {
  return TRUE;
}

SECURITY_ATTRIBUTES InheritableAttributes() {
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof(sa);
  sa.lpSecurityDescriptor = nullptr;
  sa.bInheritHandle = TRUE;
  return sa;
}

// What failed, with the system's error code of the console call that just failed.
core::Failure ConsoleFailure(const char* what) {
  return core::Failure{what, GetLastError()};
}

void WriteLine(HANDLE console, const std::string& text) {
  std::string line = text;
  line += "\r\n";
  DWORD written = 0;
  WriteConsoleA(console, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

Console::~Console() {
  if (allocated_)
    CloseConsole();
}

ConsoleOpening Console::OpenConsole(const std::string& title, uint8_t os_version) {
  if (core::OsLevelOf(os_version) >= core::OsLevel::kFour)
    FreeConsole();
  if (!AllocConsole())
    return ConsoleOpening::kNotAllocated;
  allocated_ = true;
  SECURITY_ATTRIBUTES sa = InheritableAttributes();
  output_.reset(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
  if (!output_) {
    FreeConsole();
    allocated_ = false;
    return ConsoleOpening::kOutputNotOpened;
  }
  SetConsoleCtrlHandler(IgnoreControlEvent, TRUE);
  SetConsoleTitleA(title.c_str());
  input_.reset(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &sa,
                           OPEN_EXISTING, 0, nullptr));
  return ConsoleOpening::kOpen;
}

bool Console::CloseConsole() {
  spool_.reset();
  output_.reset();
  input_.reset();
  if (allocated_) {
    FreeConsole();
    allocated_ = false;
  }
  return false;
}

bool Console::SendText(std::string_view text) {
  if (!output_)
    return false;
  std::string line(text);
  line += "\r\n";
  DWORD written = 0;
  BOOL ok = TRUE;
  // A line longer than half the console goes in pieces, the rows of each moved to the job log
  // at once: the runner's own lines (a long command, a block of many lines, the lines written
  // just before a step that fills the console in one write) never scroll out unsaved.
  const size_t piece =
      spool_ ? static_cast<size_t>(kJobLogColumns) * (kJobLogRows / 2) : line.size();
  for (size_t at = 0; at < line.size() && ok; at += piece) {
    const size_t size = std::min(piece, line.size() - at);
    ok =
        WriteConsoleA(output_.get(), line.data() + at, static_cast<DWORD>(size), &written, nullptr);
    if (spool_)
      spool_->MoveNow();
  }
  if (ok && first_line_.empty())
    first_line_ = line.substr(0, line.find_first_of("\r\n"));
  return ok != FALSE;
}

bool Console::StartJobLog(const std::string& file_name) {
  if (!output_)
    return false;
  std::string refusal;
  spool_ = JobLogSpool::Start(output_.get(), file_name, refusal);
  if (!refusal.empty())
    SendText(refusal);
  else if (!spool_)
    SendText(kSavedAtEndLine);
  return spool_ != nullptr;
}

core::Result<void> Console::SaveText(const std::string& file_name, bool is_job_log_file) {
  if (!spool_)
    return SaveConsoleText(output_.get(), 0, file_name, first_line_);
  if (is_job_log_file)
    return spool_->Save();
  std::string refusal;
  core::Result<void> copied = spool_->CopyTo(file_name, refusal);
  if (!refusal.empty())
    SendText(refusal);
  return copied;
}

bool Console::SendLines(const std::vector<std::string>& lines) {
  bool all = true;
  // With the job log moved as it is written, a line at a time: many short lines in one write
  // would scroll out of the small console before they were moved.
  if (spool_) {
    for (const std::string& line : lines)
      all = SendText(line) && all;
    return all;
  }
  for (const std::string& text : PackConsoleLines(lines, kLongestConsoleWrite))
    all = SendText(text) && all;
  return all;
}

core::Result<void> SaveConsoleText(HANDLE screen_buffer,
                                   int32_t first_row,
                                   const std::string& file_name,
                                   std::string_view first_line) {
  // Only a console whose text can be read is saved: without it an earlier file (the last run's
  // job log) is kept as it is, never emptied.
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(screen_buffer, &info) || info.dwSize.X <= 0)
    return ConsoleFailure("the console's size cannot be read");
  if (info.dwCursorPosition.Y < 0)
    return {};
  try {
    const int32_t columns = info.dwSize.X;
    const int32_t last = info.dwCursorPosition.Y;
    std::string text;
    // Many rows per read: a full job log is thousands of rows, each read a round trip.
    constexpr int32_t kRowsPerRead = 256;
    std::vector<char> rows(static_cast<size_t>(columns) * kRowsPerRead, ' ');
    for (int32_t y = std::max<int32_t>(first_row, 0); y <= last; y += kRowsPerRead) {
      const int32_t count = std::min(kRowsPerRead, last - y + 1);
      DWORD read = 0;
      COORD at{0, static_cast<SHORT>(y)};
      if (!ReadConsoleOutputCharacterA(screen_buffer, rows.data(),
                                       static_cast<DWORD>(columns * count), at, &read)) {
        return ConsoleFailure("the console's text cannot be read");
      }
      for (int32_t r = 0; r < count; ++r) {
        const size_t from = static_cast<size_t>(r) * columns;
        if (from >= read)
          break;
        const size_t length = std::min<size_t>(columns, read - from);
        if (y + r == 0 && ConsoleLostRows(info.dwSize.Y, last,
                                          std::string_view(rows.data(), length), first_line)) {
          text.insert(0, LostRowsLine(info.dwSize.Y) + "\r\n");
        }
        AppendConsoleRow(text, std::string_view(rows.data() + from, length));
      }
    }
    // The console file and the DIAG files may lie in folders the step's user can change: written
    // only when neither the folder nor the file is a link. Written whole beside the file and
    // renamed over it, so a full disk or an end halfway leaves the earlier file whole.
    const std::optional<win::FolderAndName> split =
        win::SplitFolderAndName(win::AbsolutePath(file_name));
    if (!split)
      return core::Failure{"the console file's name is no file name", ERROR_INVALID_NAME};
    win::JobFolder folder = win::JobFolder::Open(split->folder, file_name);
    const win::JobFileOutcome outcome =
        folder.Replace(split->name, win::TemporaryNameFor(split->name), {win::AsBytes(text)}, true);
    if (outcome.Refused())
      WriteLine(screen_buffer, outcome.refusal);
    if (!outcome.Done())
      return core::Failure{"the console file cannot be written", outcome.error};
    return {};
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("SaveConsoleText"))};
  }
}

core::Result<void> FitJobLogBuffer(HANDLE screen_buffer) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(screen_buffer, &info))
    return ConsoleFailure("the console's size cannot be read");
  const std::optional<BufferSize> size = JobLogBufferSize(info.dwSize.X, info.dwSize.Y);
  if (!size)
    return {};
  // The window never reaches past the buffer: a buffer that loses rows loses them from its
  // window first.
  SMALL_RECT window = info.srWindow;
  const SHORT height = static_cast<SHORT>(window.Bottom - window.Top);
  if (window.Bottom >= size->rows) {
    window.Top = 0;
    window.Bottom = static_cast<SHORT>(std::min<int32_t>(height, size->rows - 1));
    SetConsoleWindowInfo(screen_buffer, TRUE, &window);
  }
  if (!SetConsoleScreenBufferSize(screen_buffer, COORD{size->columns, size->rows}))
    return ConsoleFailure("the console's buffer cannot be sized");
  return {};
}

core::Result<void> SizeConsole(HANDLE screen_buffer, int32_t columns, int32_t rows) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(screen_buffer, &info) != 1)
    return ConsoleFailure("the console's size cannot be read");
  COORD largest = GetLargestConsoleWindowSize(screen_buffer);
  ConsoleResizePlan plan =
      PlanConsoleResize(info.dwSize.X, info.dwSize.Y, columns, rows, largest.X, largest.Y);
  if (plan.order == ResizeOrder::kRefused)
    return core::Failure{"the console cannot have that size", ERROR_INVALID_PARAMETER};
  if (plan.order == ResizeOrder::kSameCells)
    return {};
  SMALL_RECT window{0, 0, plan.window_right, plan.window_bottom};
  COORD buffer{plan.buffer_columns, plan.buffer_rows};
  if (plan.order == ResizeOrder::kWindowFirst) {
    SetConsoleWindowInfo(screen_buffer, TRUE, &window);
    SetConsoleScreenBufferSize(screen_buffer, buffer);
  } else {
    SetConsoleScreenBufferSize(screen_buffer, buffer);
    SetConsoleWindowInfo(screen_buffer, TRUE, &window);
  }
  return {};
}

bool MinimizeConsoleWindow(const std::string& title) {
  HWND window = FindWindowA(nullptr, title.c_str());
  if (window == nullptr)
    return false;
  ShowWindow(window, SW_SHOWMINIMIZED);
  return CloseWindow(window) != FALSE;
}

}  // namespace x5::console
