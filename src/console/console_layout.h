// Portable decisions behind the runner console: the resize plan, the saved-text line form and the
// packing of many lines into few writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace x5 {

// How to take a console from its current buffer to Columns x Rows without ever making the window
// larger than the buffer.
struct ConsoleResizePlan {
  int32_t result = 0;  // 1 shrink (window first), 2 grow (buffer first), 0 same cells, -1 refused
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

// One row of console text as it goes into a saved file: trailing blanks removed, CR LF added.
void AppendConsoleRow(std::string& out, std::string_view row);

// The longest write the runner hands the console at once (older systems refused more than 64 KB).
inline constexpr size_t kLongestConsoleWrite = 16 * 1024;

// Lines that would each be written with a line end after it, packed into as few texts as
// possible, each to be written with a line end after it: the same bytes in the same order, each
// write at most `longest` bytes with its line end unless one line alone is longer.
[[nodiscard]] std::vector<std::string> PackConsoleLines(const std::vector<std::string>& lines,
                                                        size_t longest);

}  // namespace x5
