// Console resize ordering, the job log's rows as they are moved, and the saved-row form.
#include "console/console_layout.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/ascii_text.h"

namespace x5::console {
namespace {

TEST(ConsoleResize, OrderFollowsCellCount) {
  struct {
    int32_t cur_c, cur_r, c, r, lw, lh;
    ResizeOrder order;
    int16_t right, bottom;
  } cases[] = {
      {80, 25, 80, 300, 160, 60, ResizeOrder::kBufferFirst, 79, 59},
      {80, 300, 80, 25, 160, 60, ResizeOrder::kWindowFirst, 79, 24},
      {80, 300, 120, 200, 160, 60, ResizeOrder::kSameCells, 119, 59},  // other shape: no change
      {80, 25, 400, 25, 160, 60, ResizeOrder::kBufferFirst, 159, 24},  // wider than the largest
  };
  for (const auto& c : cases) {
    ConsoleResizePlan p = PlanConsoleResize(c.cur_c, c.cur_r, c.c, c.r, c.lw, c.lh);
    EXPECT_EQ(std::tuple(p.order, p.buffer_columns, p.window_right, p.window_bottom),
              std::tuple(c.order, c.c, c.right, c.bottom))
        << c.c << "x" << c.r;
  }
  // Sizes beyond 16 bits are refused.
  EXPECT_EQ(PlanConsoleResize(80, 25, 40000, 25, 160, 60).order, ResizeOrder::kRefused);
  EXPECT_EQ(PlanConsoleResize(80, 25, 80, -3, 160, 60).order, ResizeOrder::kRefused);
  // 60000 current cells
  EXPECT_EQ(PlanConsoleResize(200, 300, 80, 25, 160, 60).order, ResizeOrder::kRefused);
}

TEST(JobLogBuffer, KeepsItsWidthAndHasTheJobLogsHeight) {
  struct {
    int32_t columns, rows;
    std::string sized;
  } cases[] = {
      {80, 25, "120x90"},     // the host's small default grows
      {120, 9001, "120x90"},  // a tall default shrinks: its picture would cost 540 MB
      {160, 90, "-"},         // wider than asked: the width stays
  };
  for (const auto& c : cases) {
    const std::optional<BufferSize> size = JobLogBufferSize(c.columns, c.rows);
    EXPECT_EQ(size ? std::to_string(size->columns) + "x" + std::to_string(size->rows) : "-",
              c.sized);
  }
  // The copy of a console without a job log file says when its first line scrolled away.
  const std::string first = "first line of the runner";
  EXPECT_FALSE(ConsoleLostRows(30, 12, first + "   ", first));  // not full
  EXPECT_FALSE(ConsoleLostRows(30, 29, first + "   ", first));  // exactly full
  EXPECT_TRUE(ConsoleLostRows(30, 29, "output line 42", first));
  EXPECT_TRUE(ConsoleLostRows(30, 29, "anything", ""));  // first line unknown
}

// Where the rows not yet moved begin, from where the mark of the last move went.
TEST(JobLogSpool, UnmovedRowsFollowTheMarkOrSayWhereRowsWereLost) {
  const std::string none;
  const std::string away(kRowsScrolledAwayLine);
  const std::string cleared(kConsoleClearedLine);
  struct {
    int32_t marked, found, cursor;
    int32_t first;
    const std::string& lost;
  } cases[] = {
      {-1, -1, 12, 0, none},   // nothing moved yet
      {-1, -1, 29, 0, away},   // ... and full at the first look
      {0, 14, 20, 15, none},   // after the last mark
      {0, 14, 10, 10, none},   // the cursor went back over moved rows
      {0, -1, 29, 0, away},    // scrolled out before it was moved
      {0, -1, 3, 0, cleared},  // cleared
  };
  for (const auto& c : cases) {
    const UnmovedRows unmoved = FindUnmovedRows(c.marked, c.found, c.cursor, 30);
    EXPECT_EQ(unmoved.first, c.first) << c.marked << " " << c.found;
    EXPECT_EQ(unmoved.lost_line, c.lost) << c.marked << " " << c.found;
  }
}

// The lines the runner adds to the job log by itself say what happened to the step's rows in
// words that no rule searching the step's output for trouble finds.
TEST(JobLogSpool, ItsOwnLinesTripNoRule) {
  for (std::string_view line : {kRowsScrolledAwayLine, kConsoleClearedLine, kSavedAtEndLine}) {
    for (const char* word : {"error", "fail", "abend", "warn", "fatal", "exception", "denied",
                             "unable", "cannot", "not available", "invalid", "refused"})
      EXPECT_EQ(core::FindIgnoringCase(line, word), std::string::npos) << line;
  }
}

// Rows as the job log file gets them: a full row goes on in the next (a line wider than the
// console stays one line), a separator does not; trailing blanks go.
TEST(JobLogSpool, MovedRowsJoinWhatTheConsoleBrokeAndDropTrailingBlanks) {
  std::string out;
  bool open = false;
  for (std::string_view row : {"first   ", "abcd", "ef  ", "____", "    ", "wxyz", "wxyz", "z   "})
    AppendMovedRow(out, row, open);
  EXPECT_EQ(out, "first\r\nabcdef\r\n____\r\n\r\nwxyzwxyzz\r\n");
  EXPECT_FALSE(open);
  AppendMovedRow(out, "full", open);
  EXPECT_TRUE(open);
}

TEST(ConsoleRows, TrailingBlanksNeverReachTheFile) {
  std::string out;
  AppendConsoleRow(out, "hello   ");
  AppendConsoleRow(out, "      ");
  AppendConsoleRow(out, "  x");
  EXPECT_EQ(out, "hello\r\n\r\n  x\r\n");
}

TEST(ConsoleLines, PackedWritesKeepTheBytesAndTheLimit) {
  const std::vector<std::string> lines = {"one", "", "three", std::string(20, 'x'), "five"};
  std::string one_by_one;
  for (const std::string& line : lines)
    one_by_one += line + "\r\n";
  struct {
    size_t longest;
    size_t writes;
  } cases[] = {{1000, 1}, {14, 3}, {7, 4}, {1, 5}};
  for (const auto& c : cases) {
    const std::vector<std::string> writes = PackConsoleLines(lines, c.longest);
    std::string packed;
    for (const std::string& text : writes) {
      packed += text + "\r\n";
      if (text.size() + 2 > c.longest)
        EXPECT_EQ(text.find('\r'), std::string::npos) << "only a single line may pass the limit";
    }
    EXPECT_EQ(packed, one_by_one) << c.longest;
    EXPECT_EQ(writes.size(), c.writes) << c.longest;
  }
  EXPECT_TRUE(PackConsoleLines({}, 10).empty());
}

}  // namespace
}  // namespace x5::console
