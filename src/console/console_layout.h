// Portable decisions behind the runner console: the resize plan, the job log's rows as they are
// moved or saved, and the packing of many lines into few writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace x5::console {

// Which of window and buffer changes first, so the window is never larger than the buffer.
enum class ResizeOrder : uint8_t {
  kRefused,      // a size the console cannot carry: nothing changes
  kSameCells,    // as many cells as now: nothing changes
  kWindowFirst,  // fewer cells: the window shrinks first
  kBufferFirst,  // more cells: the buffer grows first
};

// How to take a console from its current buffer to Columns x Rows without ever making the window
// larger than the buffer.
struct ConsoleResizePlan {
  ResizeOrder order = ResizeOrder::kSameCells;
  int16_t buffer_columns = 0;
  int16_t buffer_rows = 0;
  int16_t window_right = 0;  // absolute buffer coordinates, left and top 0
  int16_t window_bottom = 0;
};

// `current_*` are the buffer's present size, `largest_*` the largest window the console allows.
[[nodiscard]] ConsoleResizePlan PlanConsoleResize(int32_t current_columns,
                                                  int32_t current_rows,
                                                  int32_t columns,
                                                  int32_t rows,
                                                  int32_t largest_width,
                                                  int32_t largest_height);

// The job log's console: as wide as a current console, so ordinary long lines keep to one row,
// and three windows tall. Its history goes to the console file as rows appear (see JobLogSpool),
// which looks the less often the more rows the console holds; the console host keeps a picture
// of the whole buffer, about 60 KB a row, and a runner's processes should need no more than
// twice a bare console program's memory.
inline constexpr int32_t kJobLogColumns = 120;
inline constexpr int32_t kJobLogRows = 90;

struct BufferSize {
  int16_t columns = 0;
  int16_t rows = 0;
};

// The buffer a console of `columns` x `rows` is given for the job log: at least kJobLogColumns
// wide (a wider one keeps its width), exactly kJobLogRows tall; nothing when it has that size.
[[nodiscard]] std::optional<BufferSize> JobLogBufferSize(int32_t columns, int32_t rows);

// Where the rows not yet moved to the job log file begin, and the line the file gets there when
// rows were lost since the last look.
struct UnmovedRows {
  int32_t first = 0;
  std::string lost_line;  // empty when nothing was lost
};

// `marked` is -1 when no row was marked yet (or none since the console was found cleared), else
// 0; `found` is the row that carries the last mark before the one just put (-1: it is gone),
// `cursor_row` the row being written, `rows` the buffer's height. Marks rise with the buffer's
// scrolling; one is gone when it scrolled out (rows came faster than they were moved) or the step
// cleared or overwrote it. A buffer found full without a mark counts as one that scrolled.
[[nodiscard]] UnmovedRows FindUnmovedRows(int32_t marked,
                                          int32_t found,
                                          int32_t cursor_row,
                                          int32_t rows);

// The job log's lines where rows were lost: scrolled out before they were moved, or cleared.
inline constexpr std::string_view kRowsScrolledAwayLine =
    "** Rows scrolled out of the console here before they were saved: the step wrote them faster "
    "than they could be moved **";
inline constexpr std::string_view kConsoleClearedLine =
    "** The step cleared its console here: rows it wrote just before may be missing **";

// The job log's line where its rows cannot be moved into the console file as they appear (the
// file could not be prepared, or no thread could be had): the file gets the console's last rows
// at the end of the step instead. Worded, as every line the runner adds, so that no rule that
// searches the step's output for trouble finds it.
inline constexpr std::string_view kSavedAtEndLine =
    "** This job log goes into the console file at the end of the step, not as it is written: "
    "only the console's last 90 rows are kept **";

// Appends one moved row to the job log text. A row that fills the console to its last column
// goes on in the next row (a line wider than the console stays one line), unless it is a
// separator of "_"; other rows end their line, trailing blanks removed. `line_open` says whether
// the last row appended left its line open.
void AppendMovedRow(std::string& out, std::string_view row, bool& line_open);

// Whether rows scrolled out of the top of a buffer of `rows` rows: the cursor stands on the last
// row and row 0 no longer holds the first line the runner wrote (`first_line`, as much of it as
// fits the row; empty when unknown, which counts a full buffer as one that lost rows).
[[nodiscard]] bool ConsoleLostRows(int32_t rows,
                                   int32_t cursor_row,
                                   std::string_view row0,
                                   std::string_view first_line);

// The first line of a copy of the console whose rows scrolled out of it.
std::string LostRowsLine(int32_t rows);

// One row of console text as it goes into a saved file: trailing blanks removed, CR LF added.
void AppendConsoleRow(std::string& out, std::string_view row);

// The longest write the runner hands the console at once (older systems refused more than 64 KB).
inline constexpr size_t kLongestConsoleWrite = 16 * 1024;

// Lines that would each be written with a line end after it, packed into as few texts as
// possible, each to be written with a line end after it: the same bytes in the same order, each
// write at most `longest` bytes with its line end unless one line alone is longer.
[[nodiscard]] std::vector<std::string> PackConsoleLines(const std::vector<std::string>& lines,
                                                        size_t longest);

}  // namespace x5::console
