#include "launch/launch_plan.h"

#include <gtest/gtest.h>

namespace x5 {
namespace {

TaskRecord Task(const char* user, const char* domain) {
  TaskRecord task;
  task.user_name = Padded(user, kUserNameWidth);
  task.domain = Padded(domain, kDomainWidth);
  task.password = Padded("enciphered", kPasswordWidth);
  task.working_directory = Padded("C:\\work", kPathWidth);
  return task;
}

// The OS version code's thresholds: below 4 no logon and no standard handles, 4 a logon and the
// console's handles, 5 a job and the wait for input idle, 64 redirection off and the pause.
struct OsCase {
  const char* name;
  uint8_t os_version;
  const char* domain;
  LogonChoice logon;
  bool console_handles;
  bool job;
  bool redirection_off;
  uint32_t pause;
};

class PlanByOsVersion : public testing::TestWithParam<OsCase> {};

TEST_P(PlanByOsVersion, DecidesLogonHandlesJobAndWaits) {
  const OsCase& c = GetParam();
  const LaunchPlan plan = PlanLaunch(Task("alice", c.domain), c.os_version, "alice/JOB.7.1");
  EXPECT_EQ(plan.logon, c.logon);
  EXPECT_EQ(plan.environment, c.logon == LogonChoice::kLogOn ? EnvironmentRule::kUserBlock
                                                             : EnvironmentRule::kRunnerEnvironment);
  EXPECT_EQ(plan.startup.console_handles, c.console_handles);
  EXPECT_EQ(plan.job, c.job);
  EXPECT_EQ(plan.job_name, c.job ? "alice/JOB.7.1" : "");
  EXPECT_EQ(plan.wait_for_idle, c.job);
  EXPECT_EQ(plan.redirection_off, c.redirection_off);
  EXPECT_EQ(plan.pause_before_idle, c.pause);
  // Always created suspended, in its own process group, with a UTF-16 block where it has one.
  EXPECT_EQ(plan.creation_flags, 0x624u);
  EXPECT_EQ(plan.working_directory, "C:\\work");
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds,
    PlanByOsVersion,
    testing::Values(
        OsCase{"Three", 3, "CORP", LogonChoice::kNone, false, false, false, 0},
        OsCase{"Four", 4, "CORP", LogonChoice::kLogOn, true, false, false, 0},
        OsCase{"FourWithoutDomain", 4, "", LogonChoice::kNone, true, false, false, 0},
        OsCase{"Five", 5, "CORP", LogonChoice::kLogOn, true, true, false, 0},
        OsCase{"Ten", 10, "", LogonChoice::kNone, true, true, false, 0},
        OsCase{"SixtyFour", 64, "CORP", LogonChoice::kLogOn, true, true, true, kPauseBeforeIdleMs},
        OsCase{"SixtyFourWithoutDomain", 64, "", LogonChoice::kNone, true, true, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlanLogon, DomainFormsAndTheMissingUser) {
  LaunchPlan plan = PlanLaunch(Task("alice", "CORP"), 6, "t");
  EXPECT_EQ(plan.logon_domain, "CORP");
  EXPECT_EQ(plan.hive_account, "CORP\\alice");
  EXPECT_EQ(plan.enciphered_password, Padded("enciphered", kPasswordWidth));

  plan = PlanLaunch(Task("alice", "$local$"), 6, "t");
  EXPECT_EQ(plan.logon, LogonChoice::kLogOn);
  EXPECT_EQ(plan.logon_domain, "");
  EXPECT_EQ(plan.hive_account, "alice");

  plan = PlanLaunch(Task("", "CORP"), 6, "t");
  EXPECT_EQ(plan.logon, LogonChoice::kRefused);
  EXPECT_EQ(plan.enciphered_password, "");

  // No logon: the password is not carried at all.
  EXPECT_EQ(PlanLaunch(Task("alice", ""), 6, "t").enciphered_password, "");
}

// -1 in a window field means none: its flag stays off and its pair is not used.
struct WindowCase {
  const char* name;
  int32_t left, top, width, height, columns, rows;
  uint32_t flags, x, y, cx, cy, cols, lines;
};

class PlanStartup : public testing::TestWithParam<WindowCase> {};

TEST_P(PlanStartup, WindowFieldsSetTheirFlags) {
  const WindowCase& c = GetParam();
  TaskRecord task = Task("alice", "");
  task.window_left = c.left;
  task.window_top = c.top;
  task.window_width = c.width;
  task.window_height = c.height;
  task.console_columns = c.columns;
  task.console_rows = c.rows;
  const StartupValues s = PlanLaunch(task, 6, "t").startup;
  EXPECT_EQ(s.flags, c.flags);
  EXPECT_EQ((std::array{s.x, s.y, s.width, s.height, s.columns, s.rows}),
            (std::array{c.x, c.y, c.cx, c.cy, c.cols, c.lines}));
  EXPECT_EQ(s.desktop, "winsta0\\default");
  EXPECT_EQ(s.title, Padded("alice", kUserNameWidth));  // all 40 characters
}

INSTANTIATE_TEST_SUITE_P(
    Fields,
    PlanStartup,
    testing::Values(
        WindowCase{"AllGiven", 10, 20, 640, 480, 132, 50, 0x10E, 10, 20, 640, 480, 132, 50},
        WindowCase{"ZeroIsAValue", 0, 0, 0, 0, 0, 0, 0x10E, 0, 0, 0, 0, 0, 0},
        WindowCase{"MinusOneMeansNone", -1, 77, -1, 88, -1, 99, 0x100, 0, 0, 0, 0, 0, 0},
        WindowCase{"OnlyTheSize", -5, 77, 300, 200, -1, 25, 0x102, 0, 0, 300, 200, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace x5
