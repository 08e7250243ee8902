// Portable decisions behind the runner console: the resize plan, the job log's rows as they are
// moved or saved, and the packing of many lines into few writes.
#include "console/console_layout.h"

#include <algorithm>
#include <limits>

namespace x5::console {
namespace {
bool FitsInt16(int64_t v) {
  return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}
}  // namespace

ConsoleResizePlan PlanConsoleResize(int32_t current_columns,
                                    int32_t current_rows,
                                    int32_t columns,
                                    int32_t rows,
                                    int32_t largest_width,
                                    int32_t largest_height) {
  ConsoleResizePlan plan;
  const int64_t current_cells = int64_t{current_columns} * current_rows;
  const int64_t wanted_cells = int64_t{columns} * rows;
  // A size the console API cannot carry, or a current buffer whose cell count does not fit the
  // 16-bit arithmetic, leaves the console as it is.
  if (!FitsInt16(columns) || !FitsInt16(rows) || columns < 1 || rows < 1 ||
      !FitsInt16(current_cells)) {
    plan.order = ResizeOrder::kRefused;
    return plan;
  }
  plan.buffer_columns = static_cast<int16_t>(columns);
  plan.buffer_rows = static_cast<int16_t>(rows);
  plan.window_right = static_cast<int16_t>(std::min(columns, largest_width) - 1);
  plan.window_bottom = static_cast<int16_t>(std::min(rows, largest_height) - 1);
  if (current_cells > wanted_cells) {
    plan.order = ResizeOrder::kWindowFirst;
  } else if (current_cells < wanted_cells) {
    plan.order = ResizeOrder::kBufferFirst;
  } else {
    plan.order = ResizeOrder::kSameCells;
  }
  return plan;
}

std::optional<BufferSize> JobLogBufferSize(int32_t columns, int32_t rows) {
  const int32_t wanted_columns = std::max(columns, kJobLogColumns);
  if ((wanted_columns == columns && rows == kJobLogRows) || !FitsInt16(wanted_columns))
    return std::nullopt;
  return BufferSize{static_cast<int16_t>(wanted_columns), static_cast<int16_t>(kJobLogRows)};
}

UnmovedRows FindUnmovedRows(int32_t marked, int32_t found, int32_t cursor_row, int32_t rows) {
  UnmovedRows unmoved;
  // A full buffer scrolls with each new row, so its cursor stays on the last one; a cleared one
  // starts again at the top. Without a mark (nothing moved yet, or the cursor stood on the top
  // row), a full buffer has scrolled as far as anyone can tell.
  const bool full = cursor_row >= rows - 1;
  if (marked < 0) {
    if (full)
      unmoved.lost_line = std::string(kRowsScrolledAwayLine);
    return unmoved;
  }
  if (found >= 0) {
    // A step that moved its cursor back over moved rows writes them anew.
    unmoved.first = std::min(found + 1, std::max(cursor_row, 0));
    return unmoved;
  }
  unmoved.lost_line = std::string(full ? kRowsScrolledAwayLine : kConsoleClearedLine);
  return unmoved;
}

void AppendMovedRow(std::string& out, std::string_view row, bool& line_open) {
  const size_t end = row.find_last_not_of(' ');
  const bool full = !row.empty() && end == row.size() - 1;
  if (full && row.find_first_not_of('_') != std::string_view::npos) {
    out.append(row);
    line_open = true;
    return;
  }
  if (end != std::string_view::npos)
    out.append(row.substr(0, end + 1));
  out.append("\r\n");
  line_open = false;
}

bool ConsoleLostRows(int32_t rows,
                     int32_t cursor_row,
                     std::string_view row0,
                     std::string_view first_line) {
  if (rows < 1 || cursor_row < rows - 1)
    return false;
  if (first_line.empty())
    return true;
  const auto trimmed = [](std::string_view text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
  };
  const std::string_view shown = trimmed(row0);
  const std::string_view expected = trimmed(first_line.substr(0, row0.size()));
  return shown != expected;
}

std::string LostRowsLine(int32_t rows) {
  return "** The job log holds only the console's last " + std::to_string(rows) +
         " rows: earlier output scrolled out of it **";
}

void AppendConsoleRow(std::string& out, std::string_view row) {
  size_t end = row.find_last_not_of(' ');
  if (end != std::string_view::npos)
    out.append(row.substr(0, end + 1));
  out.append("\r\n");
}

std::vector<std::string> PackConsoleLines(const std::vector<std::string>& lines, size_t longest) {
  std::vector<std::string> writes;
  bool open = false;
  for (const std::string& line : lines) {
    if (open && writes.back().size() + 2 + line.size() + 2 > longest)
      open = false;
    if (open) {
      writes.back() += "\r\n";
      writes.back() += line;
    } else {
      writes.push_back(line);
      open = true;
    }
  }
  return writes;
}

}  // namespace x5::console
