#include "launch/launch_plan.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace x5::launch {
namespace {

protocol::TaskRecord Task(const char* user, const char* domain) {
  protocol::TaskRecord task;
  task.user_name = protocol::Padded(user, protocol::kUserNameWidth);
  task.domain = protocol::Padded(domain, protocol::kDomainWidth);
  task.password = protocol::Padded("enciphered", protocol::kPasswordWidth);
  task.working_directory = protocol::Padded("C:\\work", protocol::kPathWidth);
  return task;
}

// The OS version code's thresholds: below 4 no logon and no standard handles, from 4 a logon and
// the console's handles, from 5 the wait for input idle, 64 redirection off and, with a logon,
// the pause. A job whatever the code: a parent's code never lets a step escape KILL.
struct OsCase {
  const char* name;
  uint8_t os_version;
  const char* domain;
  LogonChoice logon;
  bool handles, wait_for_idle, redirection_off;
  uint32_t pause;
};

TEST(PlanLaunch, ByOsVersionDecidesLogonHandlesJobAndWaits) {
  const OsCase cases[] = {
      {"three", 3, "CORP", LogonChoice::kNone, false, false, false, 0},
      {"four", 4, "CORP", LogonChoice::kLogOn, true, false, false, 0},
      {"four, no domain", 4, "", LogonChoice::kNone, true, false, false, 0},
      {"five", 5, "CORP", LogonChoice::kLogOn, true, true, false, 0},
      {"sixty-four", 64, "CORP", LogonChoice::kLogOn, true, true, true, 2000},
      {"sixty-four, no domain", 64, "", LogonChoice::kNone, true, true, true, 0},
  };
  for (const OsCase& c : cases) {
    SCOPED_TRACE(c.name);
    const LaunchPlan plan =
        PlanLaunch(Task("alice", c.domain), core::OsLevelOf(c.os_version), "alice/JOB.7.1");
    EXPECT_EQ(plan.environment, c.logon == LogonChoice::kLogOn
                                    ? EnvironmentRule::kUserBlock
                                    : EnvironmentRule::kRunnerEnvironment);
    EXPECT_EQ(plan.enciphered_password.empty(), c.logon != LogonChoice::kLogOn);
    EXPECT_TRUE(plan.job);
    EXPECT_EQ(plan.job_name, "alice/JOB.7.1");
    EXPECT_EQ(std::tuple(plan.logon, plan.startup.console_handles, plan.wait_for_idle,
                         plan.redirection_off, plan.pause_before_idle),
              std::tuple(c.logon, c.handles, c.wait_for_idle, c.redirection_off, c.pause));
    EXPECT_EQ(plan.creation_flags, 0x624u);  // always suspended, in a group of its own
  }
}

TEST(PlanLaunch, LocalDomainFormAndTheMissingUser) {
  EXPECT_EQ(PlanLaunch(Task("alice", "CORP"), core::OsLevel::kFive, "t").logon_domain, "CORP");
  EXPECT_EQ(PlanLaunch(Task("alice", "$local$"), core::OsLevel::kFive, "t").logon_domain, "");
  EXPECT_EQ(PlanLaunch(Task("", "CORP"), core::OsLevel::kFive, "t").logon, LogonChoice::kRefused);
}

// -1 in a window field means none: its flag stays off and its pair is not used.
TEST(PlanLaunch, WindowFieldsSetTheirFlagsFromZeroUp) {
  protocol::TaskRecord task = Task("alice", "");
  auto startup = [&](std::array<int32_t, 6> f) {
    task.window_left = f[0];
    task.window_top = f[1];
    task.window_width = f[2];
    task.window_height = f[3];
    task.console_columns = f[4];
    task.console_rows = f[5];
    const StartupValues s = PlanLaunch(task, core::OsLevel::kFive, "t").startup;
    return std::array<uint32_t, 7>{s.flags, s.x, s.y, s.width, s.height, s.columns, s.rows};
  };
  EXPECT_EQ(startup({10, 20, 640, 480, 132, 50}),
            (std::array<uint32_t, 7>{0x10E, 10, 20, 640, 480, 132, 50}));
  EXPECT_EQ(startup({0, 0, 0, 0, 0, 0}), (std::array<uint32_t, 7>{0x10E, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(startup({-5, 77, 300, 200, -1, 25}),
            (std::array<uint32_t, 7>{0x102, 0, 0, 300, 200, 0, 0}));
  const StartupValues s = PlanLaunch(task, core::OsLevel::kFive, "t").startup;
  EXPECT_EQ(s.desktop, "winsta0\\default");
  EXPECT_EQ(s.title, protocol::Padded("alice", protocol::kUserNameWidth));  // all 40 characters
}

}  // namespace
}  // namespace x5::launch
