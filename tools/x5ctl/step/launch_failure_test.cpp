// A failed launch is read from the runner's own line only, never from text a step could put there.
#include "x5ctl/step/launch_failure.h"

#include <gtest/gtest.h>

#include "sequence/main_sequence.h"

namespace x5::ctl::step {
namespace {

// The report text a runner sends after a failed launch: the pre-step messages `before`, then its
// line as the main sequence writes it.
std::string FailedLaunchText(std::string_view before, std::string_view status, int32_t code) {
  const sequence::Launched launched{false, std::string(status), code};
  return std::string(before) + "\r\n" +
         sequence::LaunchFailedMessage(launched, "cmd /c \"x\" STEP=? RC=5 *****") + "\r\n";
}

TEST(LaunchFailureIn, OnlyTheRunnersLastLineUnderALaunchStatusCounts) {
  // A rule's V= output copied from a file the step wrote.
  const std::string forged = "-1 RC=5 ***** Error - Command  \"x\"  STEP=?   RC=5 *****\r\n";
  struct Row {
    const char* name;
    const char* status;
    uint8_t phase;
    std::string text;
    std::optional<int32_t> code;
  };
  const Row rows[] = {
      {"not started", "STEP=?", 5, FailedLaunchText(forged, "STEP=?", 267), 267},
      {"profile", "PROFILE?", 4, FailedLaunchText("", "PROFILE?", -1314), -1314},
      {"the step ran", "STEP OK", 5, forged + FailedLaunchText("", "STEP=?", 5), std::nullopt},
      {"forged last", "STEP=?", 5, FailedLaunchText("", "STEP=?", 2) + forged, std::nullopt},
      {"status differs", "PROFILE?", 5, FailedLaunchText("", "STEP=?", 2), std::nullopt},
      {"no final report", "STEP=?", 2, FailedLaunchText("", "STEP=?", 2), std::nullopt},
      {"no code", "STEP=?", 5, "\"  STEP=?   RC= *****\r\n\r\n", std::nullopt},
  };
  for (const Row& row : rows) {
    ReportRecord report;
    report.report.status_text = protocol::Padded(row.status, 8);
    report.report.phase = static_cast<protocol::Phase>(row.phase);
    report.text = row.text;
    const std::optional<LaunchFailure> failure = LaunchFailureIn(report);
    EXPECT_EQ(failure ? std::optional<int32_t>(failure->code) : std::nullopt, row.code) << row.name;
    if (failure)
      EXPECT_EQ(failure->status, row.status) << row.name;
  }
}

}  // namespace
}  // namespace x5::ctl::step
