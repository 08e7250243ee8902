// Portable decisions behind the runner console: the resize plan, the saved-text line form and the
// packing of many lines into few writes.
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

// The job log's least buffer, whatever the system: what a current console holds by default, so a
// step's output does not scroll out of it and ordinary long lines are not broken into rows.
inline constexpr int32_t kJobLogColumns = 120;
inline constexpr int32_t kJobLogRows = 9001;

struct BufferSize {
  int16_t columns = 0;
  int16_t rows = 0;
};

// The buffer to grow a console of `columns` x `rows` to, so it is at least the job log's least
// size; nothing when it is that large already. A buffer only grows here: its window stays.
[[nodiscard]] std::optional<BufferSize> JobLogBufferGrowth(int32_t columns, int32_t rows);

// Whether rows scrolled out of the top of a buffer of `rows` rows: the cursor stands on the last
// row and row 0 no longer holds the first line the runner wrote (`first_line`, as much of it as
// fits the row; empty when unknown, which counts a full buffer as one that lost rows).
[[nodiscard]] bool ConsoleLostRows(int32_t rows,
                                   int32_t cursor_row,
                                   std::string_view row0,
                                   std::string_view first_line);

// The first line of a saved job log whose console lost rows.
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
