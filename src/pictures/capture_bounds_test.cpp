// Bounds of picture work: the time allowed for a set of windows, lock tries, the console line.
#include "pictures/capture_bounds.h"

#include <gtest/gtest.h>

namespace x5::pictures {
namespace {

TEST(CaptureBounds, TimeAllowedIsTwoSecondsPlusTheIntervalPerWindowAtMostOneMinute) {
  struct Case {
    size_t windows;
    int32_t interval;
    uint32_t allowed;
  };
  const Case cases[] = {
      {1, 200, 2'200},   {0, 200, 2'200},  // at least one window
      {1, -1, 2'000},    {1, INT32_MAX, 12'000}, {5, 10'000, 60'000},
      {27, 200, 59'400}, {28, 200, 60'000},      {SIZE_MAX, INT32_MAX, 60'000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PictureTimeAllowedMs(c.windows, c.interval), c.allowed) << c.windows << " windows";
  // The lock's tries fit the time left.
  EXPECT_EQ(LockTriesWithin(0), 0);
  EXPECT_EQ(LockTriesWithin(2'200), 11);
  EXPECT_EQ(LockTriesWithin(60'000), 200);  // never more than the lock's own 40 s
}

TEST(CaptureBounds, CutShortLine) {
  EXPECT_EQ(PicturesCutShortLine(4'400, 2, true),
            "\r\n***** Pictures stopped after their time limit of 4400 msec: 2 window(s) not "
            "pictured, the processes are ended without them *****\r\n");
  EXPECT_EQ(PicturesCutShortLine(2'200, 1, false),
            "\r\n***** Pictures stopped after their time limit of 2200 msec: 1 window(s) not "
            "pictured *****\r\n");
}

}  // namespace
}  // namespace x5::pictures
