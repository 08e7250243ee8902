// Operator commands against a running step: reports, hold and resume, kill, priority, DIAG files.
// Every report is held to the protocol's layout by the fixture, as a parent that did not ask for
// the extensions holds it.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using OperatorCommands = RunnerTest;

std::string TaskLine(unsigned long pid, const char* what) {
  return "\r\n***** Task #" + std::to_string(pid) + " " + what + " on user request *****\r\n";
}

// Holds count: one resume of two holds leaves the step held, the second lets it run; "END " of a
// step held twice undoes both holds, and the runner waits for the step to finish.
TEST_F(OperatorCommands, HoldsAreCountedAndEndOfAHeldStepLetsItFinish) {
  Start(Task(step_ + " pidfile " + Win("pid.txt") + " tick " + Win("ticks.txt") + " 50 80"));
  const fs::path ticks = Linux("ticks.txt");
  ASSERT_TRUE(WaitUntil([&] { return LineCount(ticks) >= 3; })) << "the step does not tick";
  const unsigned long pid = ReadPids(Linux("pid.txt")).at(0);
  auto expect_held = [&](const char* what) {
    // A line being written at the moment of the hold may still land; after that nothing may.
    const size_t at_hold = LineCount(ticks);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LE(LineCount(ticks), at_hold + 1) << what;
  };

  ctl::step::ReportRecord hold = Exchange("STOP");
  EXPECT_EQ(hold.report.status_text, "0       ");  // no error while suspending
  EXPECT_EQ(hold.report.status_code, protocol::kStillRunning);
  EXPECT_EQ(Exchange("STOP").report.status_text, "0       ");
  expect_held("after two holds");
  EXPECT_EQ(Exchange("STRT").report.status_text, "0       ");
  expect_held("after one resume of two holds");
  EXPECT_EQ(Exchange("STRT").report.status_text, "0       ");
  const size_t resumed = LineCount(ticks);
  EXPECT_TRUE(WaitUntil([&] { return LineCount(ticks) >= resumed + 3; }))
      << "the step did not run again after the resumes";
  Exchange("STOP");
  Exchange("STOP");
  EXPECT_EQ(Exchange("END ").report.status_text, "998     ");
  ctl::step::ReportRecord final_report = Exchange("STAT");  // answered once the step has ended
  EXPECT_EQ(final_report.report.phase, protocol::Phase::kWaitingForEnd);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.text, TaskLine(pid, "HOLDED") + TaskLine(pid, "HOLDED") +
                                   TaskLine(pid, "RESUMED") + TaskLine(pid, "RESUMED") +
                                   TaskLine(pid, "HOLDED") + TaskLine(pid, "HOLDED"));
  EndConversation();
  EXPECT_EQ(LineCount(ticks), 80u);
  // The hold lines belong to the report text, not to the job log.
  EXPECT_FALSE(Contains(ReadFileText(Linux("console.txt")), "HOLDED"));
}

// The launch priority reaches the step's main process and thread; PRTY reaches every process of
// the job and each of its threads; GPRT changes nothing (the codes' meanings have unit tests). An
// unknown command answers 9, which DIAG keeps while it writes the copy numbered as asked. Then a
// KILL of the held tree, with an exit code: the whole tree ends, held or not.
TEST_F(OperatorCommands, PriorityDiagAndAKillWithExitCodeThatEndsTheHeldTree) {
  protocol::TaskRecord t = Task(step_ + " echo diag-marker tree 2 " + Win("pids.txt") + " 60000");
  t.priority = 15;  // below normal class, highest thread priority
  Start(t);
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 3; }));
  const std::vector<unsigned long> pids = ReadPids(Linux("pids.txt"));
  // Per process listed: "PID CLASS T1,T2..." with the distinct priorities of its threads.
  auto priorities = [&] {
    fs::remove(Linux("prio.txt"));
    EXPECT_EQ(RunHelper({"prio", Win("pids.txt"), Win("prio.txt")}), 0);
    return ReadFileText(Linux("prio.txt"));
  };
  EXPECT_EQ(Exchange("STAT").report.status_text, "1       ");
  const std::string launched = priorities();
  EXPECT_TRUE(launched.starts_with(std::to_string(pids[0]) + " 16384 2")) << launched;
  EXPECT_EQ(Exchange("PRTY", 30).report.status_text, "1       ") << "PRTY leaves the report code";
  std::string above_normal;
  for (unsigned long pid : pids)
    above_normal += std::to_string(pid) + " 32768 -15\n";
  EXPECT_EQ(priorities(), above_normal);
  EXPECT_EQ(Exchange("GPRT").report.status_text, "1       ");
  EXPECT_EQ(priorities(), above_normal);
  EXPECT_EQ(Exchange("KIL!").report.status_text, "9       ");
  EXPECT_EQ(Exchange("DIAG", 7).report.status_text, "9       ");
  EXPECT_TRUE(Contains(ReadFileText(Linux("JOB/S01/DIAG7.txt")), "diag-marker\r\n"));

  EXPECT_EQ(Exchange("STOP").report.status_text, "0       ");
  ctl::step::ReportRecord kill = Exchange("KILL", 5);
  EXPECT_EQ(kill.report.status_text, "999     ");
  EXPECT_EQ(kill.report.phase, protocol::Phase::kStepLaunched);
  ctl::step::ReportRecord final_report = Exchange("STAT");
  EXPECT_EQ(final_report.report.phase, protocol::Phase::kWaitingForEnd);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.text, TaskLine(pids[0], "HOLDED") + TaskLine(pids[0], "KILLED"));
  // A parent that did not ask for the extensions finds the reserved field 0 (the fixture checks
  // every report); the job log names the exit code.
  EXPECT_EQ(final_report.report.step_exit_code, 0);
  // Before "END ": the clean-up has not run yet, so the KILL alone has ended the tree.
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
  EndConversation();
  EXPECT_TRUE(Contains(ReadFileText(Linux("console.txt")), "\r\nExit    5\r\n"));
}

}  // namespace
}  // namespace x5::e2e
