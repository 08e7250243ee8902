// The job log file written while the step runs: console rows moved to it as they appear.
#include "console/job_log_spool_win.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "console/console_layout.h"
#include "win/job_folder.h"

namespace x5::console {
namespace {

// The mark on the first cell of the last row moved. A grid line that consoles draw only when
// asked to, so the step's user sees nothing; the step's own writes carry its own attributes, so a
// row it writes anew loses the mark.
constexpr WORD kMovedMark = COMMON_LVB_GRID_HORIZONTAL;

// How often the thread looks: soon again while rows come, less often the longer the console is
// quiet, but never so seldom that a step starting to write lines at a brisk pace fills it
// meanwhile: the console's rows last a step writing about 370 lines a second through one quiet
// pause (30 rows looked at every 160 ms lost rows of a step writing 200 lines a second). Each
// look is a request that costs the console host and the Wine server about a millisecond each:
// hundreds of runners waiting on their steps must not fill the machine with them.
constexpr DWORD kBusyLookMs = 10;
constexpr DWORD kQuietLookMs = 240;
static_assert(kJobLogRows * 1000 / static_cast<int32_t>(kQuietLookMs) >= 370);

// How many rows from the last mark a quiet look reads: a scroll changes the marked row (a row
// from below, without the mark, takes its place), a write lands on the rows after it; only a
// few blank lines before the first new row go unseen until the next whole look.
constexpr int32_t kQuietLookRows = 4;

class Exclusive {
 public:
  explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

 private:
  SRWLOCK& lock_;
};

// One row's text in the console's output code page, a byte a cell as the console's ANSI read
// gives it; only the rows moved are converted, not the whole snapshot.
std::string_view RowText(const std::vector<CHAR_INFO>& cells,
                         int32_t columns,
                         int32_t row,
                         UINT code_page,
                         std::string& scratch) {
  scratch.resize(static_cast<size_t>(columns));
  for (int32_t x = 0; x < columns; ++x) {
    const WCHAR wide = cells[static_cast<size_t>(row) * columns + x].Char.UnicodeChar;
    char narrow = '?';
    if (wide < 0x80)
      narrow = static_cast<char>(wide);
    else
      WideCharToMultiByte(code_page, 0, &wide, 1, &narrow, 1, nullptr, nullptr);
    scratch[static_cast<size_t>(x)] = narrow;
  }
  return scratch;
}

// The rows 0 to `cursor` with their attributes, in one request (the ANSI read is two, and
// converts every cell).
bool Snapshot(HANDLE console, int32_t columns, int32_t cursor, std::vector<CHAR_INFO>& cells) {
  cells.assign(static_cast<size_t>(columns) * (cursor + 1), CHAR_INFO{});
  SMALL_RECT region{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(cursor)};
  return ReadConsoleOutputW(console, cells.data(),
                            COORD{static_cast<SHORT>(columns), static_cast<SHORT>(cursor + 1)},
                            COORD{0, 0}, &region) != FALSE;
}

// The last row at or above `from` whose first cell carries the mark; -1 when none does.
int32_t LastMarked(const std::vector<CHAR_INFO>& cells, int32_t columns, int32_t from) {
  for (int32_t y = from; y >= 0; --y) {
    if ((cells[static_cast<size_t>(y) * columns].Attributes & kMovedMark) != 0)
      return y;
  }
  return -1;
}

}  // namespace

JobLogSpool::JobLogSpool(HANDLE console, win::JobFolder folder, win::ScopedFileHandle file)
    : console_(console), folder_(std::move(folder)), file_(std::move(file)) {}

std::unique_ptr<JobLogSpool> JobLogSpool::Start(HANDLE console,
                                                const std::string& file_name,
                                                std::string& refusal) {
  try {
    const std::optional<win::FolderAndName> split =
        win::SplitFolderAndName(win::AbsolutePath(file_name));
    if (!split)
      return nullptr;
    win::JobFolder folder = win::JobFolder::Open(split->folder, file_name);
    win::JobFileOutcome outcome;
    // Read back for DIAG copies; emptied here, once it is known to be the file meant.
    win::ScopedFileHandle file = folder.OpenOrCreate(split->name, outcome);
    if (!file) {
      refusal = outcome.refusal;
      return nullptr;
    }
    if (!SetEndOfFile(file.get()))
      return nullptr;
    std::unique_ptr<JobLogSpool> spool(
        new JobLogSpool(console, std::move(folder), std::move(file)));
    spool->stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!spool->stop_)
      return nullptr;
    // A thread of its own, because the main thread blocks for as long as the parent sends no
    // command, and the console must be emptied meanwhile. It touches only the console's rows and
    // this object, under the lock.
    spool->thread_.reset(CreateThread(nullptr, 64 * 1024, &JobLogSpool::Thread, spool.get(),
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!spool->thread_)
      return nullptr;
    return spool;
  } catch (const std::exception&) {
    return nullptr;
  }
}

JobLogSpool::~JobLogSpool() {
  if (thread_) {
    SetEvent(stop_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
  }
}

DWORD WINAPI JobLogSpool::Thread(void* self) {
  static_cast<JobLogSpool*>(self)->Loop();
  return 0;
}

void JobLogSpool::Loop() {
  DWORD wait = kBusyLookMs;
  for (uint32_t look = 1; WaitForSingleObject(stop_.get(), wait) == WAIT_TIMEOUT; ++look) {
    Exclusive hold(lock_);
    // A quiet console is looked at in one request. Now and then a whole look all the same, for
    // rows the step rewrote above the last mark.
    if ((look % 8 != 0 && UnchangedLocked()) || !MoveLocked(false))
      wait = std::min(wait * 2, kQuietLookMs);
    else
      wait = kBusyLookMs;
  }
}

bool JobLogSpool::UnchangedLocked() {
  try {
    // The marked row and the few below it, in Unicode: the ANSI read asks the host for its code
    // page too, a second request.
    const int32_t columns = watched_columns_;
    if (columns <= 0 || watched_first_ < 0 || watched_first_ >= watched_rows_)
      return false;
    const int32_t count = std::min(watched_rows_ - watched_first_, kQuietLookRows);
    std::vector<CHAR_INFO> cells(static_cast<size_t>(columns) * count, CHAR_INFO{});
    SMALL_RECT region{0, static_cast<SHORT>(watched_first_), static_cast<SHORT>(columns - 1),
                      static_cast<SHORT>(watched_first_ + count - 1)};
    if (!ReadConsoleOutputW(console_, cells.data(),
                            COORD{static_cast<SHORT>(columns), static_cast<SHORT>(count)},
                            COORD{0, 0}, &region) ||
        region.Right != columns - 1 || region.Bottom != watched_first_ + count - 1) {
      watched_.clear();
      return false;
    }
    const bool same = watched_.size() == cells.size() &&
                      std::equal(cells.begin(), cells.end(), watched_.begin(),
                                 [](const CHAR_INFO& a, const CHAR_INFO& b) {
                                   return a.Char.UnicodeChar == b.Char.UnicodeChar &&
                                          a.Attributes == b.Attributes;
                                 });
    watched_ = std::move(cells);
    return same;
  } catch (const std::exception&) {
    watched_.clear();
    return false;
  }
}

bool JobLogSpool::WriteLocked(const std::string& text, size_t provisional) {
  if (text.empty())
    return true;
  // What the last save wrote of the row then being written goes; the row comes again, whole.
  if (provisional_ > 0) {
    LARGE_INTEGER back{};
    back.QuadPart = -static_cast<LONGLONG>(provisional_);
    if (!SetFilePointerEx(file_.get(), back, nullptr, FILE_END) || !SetEndOfFile(file_.get()))
      write_failed_ = true;
    provisional_ = 0;
  }
  LARGE_INTEGER none{};
  SetFilePointerEx(file_.get(), none, nullptr, FILE_END);
  DWORD written = 0;
  if (!WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    write_failed_ = true;
    return false;
  }
  provisional_ = provisional;
  return true;
}

bool JobLogSpool::MoveLocked(bool with_cursor_row) {
  try {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console_, &info) || info.dwSize.X <= 0)
      return false;
    const int32_t columns = info.dwSize.X;
    const int32_t rows = info.dwSize.Y;
    const auto cursor_of = [rows](const CONSOLE_SCREEN_BUFFER_INFO& i) {
      return std::clamp<int32_t>(i.dwCursorPosition.Y, 0, rows - 1);
    };
    if (columns != watched_columns_ || rows != watched_rows_)
      watched_.clear();
    watched_columns_ = columns;
    watched_rows_ = rows;
    watched_first_ = std::max(cursor_of(info) - 1, 0);
    // The mark goes on the last complete row first and the rows are read after: in that one read
    // the rows between the last two marks are exactly the rows not yet moved, however the console
    // scrolled meanwhile (a row the mark lands on after a scroll is a complete row too). Marks
    // stay where they are put; the step's own writes replace them.
    bool marked_now = false;
    if (const int32_t last = cursor_of(info) - 1; last >= 0) {
      WORD attributes = 0;
      DWORD read = 0;
      if (!ReadConsoleOutputAttribute(console_, &attributes, 1, COORD{0, static_cast<SHORT>(last)},
                                      &read) ||
          read != 1)
        return false;
      if ((attributes & kMovedMark) == 0) {
        attributes |= kMovedMark;
        DWORD written = 0;
        marked_now = WriteConsoleOutputAttribute(console_, &attributes, 1,
                                                 COORD{0, static_cast<SHORT>(last)}, &written) &&
                     written == 1;
      }
    }
    if (marked_now)
      watched_.clear();  // the rows watched changed: the next quiet look starts afresh
    if (!marked_now && !with_cursor_row)
      return false;
    CONSOLE_SCREEN_BUFFER_INFO now{};
    std::vector<CHAR_INFO> cells;
    if (!GetConsoleScreenBufferInfo(console_, &now) || now.dwSize.X != columns ||
        !Snapshot(console_, columns, cursor_of(now), cells))
      return false;
    const int32_t cursor = cursor_of(now);
    const UINT code_page = GetConsoleOutputCP();
    std::string text;
    std::string scratch;
    if (marked_now) {
      const int32_t newest = LastMarked(cells, columns, cursor - 1);
      const int32_t before = LastMarked(cells, columns, newest - 1);
      const UnmovedRows unmoved = FindUnmovedRows(had_mark_ ? 0 : -1, before, cursor, rows);
      if (!unmoved.lost_line.empty()) {
        if (line_open_)
          text += "\r\n";
        text += unmoved.lost_line;
        text += "\r\n";
        line_open_ = false;
      }
      for (int32_t y = unmoved.first; y <= newest; ++y)
        AppendMovedRow(text, RowText(cells, columns, y, code_page, scratch), line_open_);
      had_mark_ = newest >= 0;
    }
    size_t provisional = 0;
    if (with_cursor_row) {
      // Written as a row of its own, taken back by the next write.
      std::string row;
      bool open = line_open_;
      AppendMovedRow(row, RowText(cells, columns, cursor, code_page, scratch), open);
      if (row != "\r\n" || line_open_) {
        text += row;
        provisional = row.size();
      }
    }
    WriteLocked(text, provisional);
    return marked_now;
  } catch (const std::exception&) {
    return false;
  }
}

void JobLogSpool::MoveNow() {
  Exclusive hold(lock_);
  MoveLocked(false);
}

core::Result<void> JobLogSpool::Save() {
  Exclusive hold(lock_);
  MoveLocked(true);
  if (write_failed_)
    return core::Failure{"the console file cannot be written", ERROR_WRITE_FAULT};
  return {};
}

core::Result<void> JobLogSpool::CopyTo(const std::string& file_name, std::string& refusal) {
  try {
    std::string text;
    {
      Exclusive hold(lock_);
      MoveLocked(true);
      LARGE_INTEGER size{};
      if (!GetFileSizeEx(file_.get(), &size))
        return core::Failure{"the console file cannot be read", GetLastError()};
      text.resize(static_cast<size_t>(size.QuadPart));
      LARGE_INTEGER start{};
      SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN);
      DWORD read = 0;
      if (!text.empty() &&
          (!ReadFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
           read != text.size()))
        return core::Failure{"the console file cannot be read", GetLastError()};
    }
    const std::optional<win::FolderAndName> split =
        win::SplitFolderAndName(win::AbsolutePath(file_name));
    if (!split)
      return core::Failure{"the file's name is no file name", ERROR_INVALID_NAME};
    win::JobFolder folder = win::JobFolder::Open(split->folder, file_name);
    const win::JobFileOutcome outcome =
        folder.Replace(split->name, win::TemporaryNameFor(split->name), {win::AsBytes(text)}, true);
    refusal = outcome.refusal;
    if (!outcome.Done())
      return core::Failure{"the file cannot be written", outcome.error};
    return {};
  } catch (const std::exception&) {
    return core::Failure{"the job log cannot be copied", ERROR_NOT_ENOUGH_MEMORY};
  }
}

}  // namespace x5::console
