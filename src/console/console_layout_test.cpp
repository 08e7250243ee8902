// Console resize ordering and the saved-row form.
#include "console/console_layout.h"

#include <gtest/gtest.h>

#include <tuple>

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

TEST(JobLogBuffer, GrowsToTheLeastSizeAndLosesRowsOnlyWhenTheFirstLineScrolledAway) {
  struct {
    int32_t columns, rows;
    std::string grown;
  } cases[] = {
      {80, 25, "120x9001"},    // the host's small default
      {160, 300, "160x9001"},  // wider than asked: the width stays
      {120, 9001, "-"},        // large enough already
  };
  for (const auto& c : cases) {
    const std::optional<BufferSize> growth = JobLogBufferGrowth(c.columns, c.rows);
    EXPECT_EQ(growth ? std::to_string(growth->columns) + "x" + std::to_string(growth->rows) : "-",
              c.grown);
  }
  // Rows are lost only when the first line scrolled away.
  const std::string first = "first line of the runner";
  EXPECT_FALSE(ConsoleLostRows(9001, 120, first + "   ", first));   // not full
  EXPECT_FALSE(ConsoleLostRows(9001, 9000, first + "   ", first));  // exactly full
  EXPECT_TRUE(ConsoleLostRows(9001, 9000, "output line 42", first));
  EXPECT_FALSE(ConsoleLostRows(9001, 9000, "first", "first line wider than the row"));
  EXPECT_TRUE(ConsoleLostRows(9001, 9000, "anything", ""));  // first line unknown
  EXPECT_EQ(LostRowsLine(9001),
            "** The job log holds only the console's last 9001 rows: earlier output scrolled out "
            "of it **");
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
