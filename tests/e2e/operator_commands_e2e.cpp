// Operator commands against a running step: reports, hold and resume, kill, priority, DIAG files.
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
  EXPECT_EQ(final_report.report.phase, 4);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.text, TaskLine(pid, "HOLDED") + TaskLine(pid, "HOLDED") +
                                   TaskLine(pid, "RESUMED") + TaskLine(pid, "RESUMED") +
                                   TaskLine(pid, "HOLDED") + TaskLine(pid, "HOLDED"));
  EndConversation();
  EXPECT_EQ(LineCount(ticks), 80u);
  // The hold lines belong to the report text, not to the job log.
  EXPECT_FALSE(Contains(ReadFileText(Linux("console.txt")), "HOLDED"));
}

// A KILL of a held tree, with an exit code: the whole tree ends, held or not.
TEST_F(OperatorCommands, KillWithExitCodeEndsTheHeldStepItsChildAndGrandchild) {
  Start(Task(step_ + " tree 2 " + Win("pids.txt") + " 60000"));
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 3; }));
  const unsigned long main_pid = ReadPids(Linux("pids.txt"))[0];
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 3);
  // A watcher holds the main process open so that its exit code can be read after its end.
  core::Result<std::unique_ptr<ctl::host::ChildProcess>> started =
      ctl::host::StartChildProcess({"wine", (fs::path(mingw_) / "x5step.exe").string(), "exitof",
                                    Win("pids.txt"), Win("exit.txt")});
  ASSERT_TRUE(started) << started.failure().text;
  std::unique_ptr<ctl::host::ChildProcess>& watcher = *started;
  watcher->CloseInput();
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Linux("exit.txt.open")); }));

  EXPECT_EQ(Exchange("STOP").report.status_text, "0       ");
  ctl::step::ReportRecord kill = Exchange("KILL", 5);
  EXPECT_EQ(kill.report.status_text, "999     ");
  EXPECT_EQ(kill.report.phase, 2);
  ctl::step::ReportRecord final_report = Exchange("STAT");
  EXPECT_EQ(final_report.report.phase, 4);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.text, TaskLine(main_pid, "HOLDED") + TaskLine(main_pid, "KILLED"));
  // Before "END ": the clean-up has not run yet, so the KILL alone has ended the tree.
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
  EndConversation();
  EXPECT_EQ(watcher->Wait(std::chrono::steady_clock::now() + std::chrono::seconds(60)),
            std::optional<int32_t>(0));
  EXPECT_EQ(ReadFileText(Linux("exit.txt")), "5") << "the exit code of the killed main process";
}

// Whatever OS version code the parent sends, the step runs in a job: a KILL ends its whole tree.
TEST_F(OperatorCommands, AnyOsVersionCodeGetsAJobThatAKillEnds) {
  protocol::TaskRecord t = Task(step_ + " tree 2 " + Win("pids.txt") + " 60000");
  t.os_version = 3;
  Start(t);
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 3; }));
  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
  StatUntilFinal();
  EndConversation();
}

// The launch priority reaches the step's main process and thread; PRTY reaches every process of
// the job and each of its threads; GPRT changes nothing. The codes' meanings have unit tests.
TEST_F(OperatorCommands, LaunchPriorityThenPrtyReachesEveryProcessOfTheJob) {
  protocol::TaskRecord t = Task(step_ + " tree 1 " + Win("pids.txt") + " 60000");
  t.priority = 15;  // below normal class, highest thread priority
  Start(t);
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 2; }));
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
  const std::string above_normal = priorities();
  EXPECT_EQ(above_normal,
            std::to_string(pids[0]) + " 32768 -15\n" + std::to_string(pids[1]) + " 32768 -15\n");
  EXPECT_EQ(Exchange("GPRT").report.status_text, "1       ");
  EXPECT_EQ(priorities(), above_normal);
  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  StatUntilFinal();
  EndConversation();
}

// DIAG numbers its copies on from the last (-1) or from the number given; an unknown command
// answers 9, which DIAG keeps.
TEST_F(OperatorCommands, DiagWritesNumberedConsoleCopiesAndUnknownCommandsAnswerNine) {
  Start(Task(step_ + " echo diag-marker write " + Win("ready.txt") + " x sleep 60000"));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Linux("ready.txt")); }));
  EXPECT_EQ(Exchange("STAT").report.status_text, "1       ");
  for (int32_t argument : {-1, 7, -1})
    EXPECT_EQ(Exchange("DIAG", argument).report.status_text, "1       ");
  EXPECT_EQ(Exchange("KIL!").report.status_text, "9       ");
  EXPECT_EQ(Exchange("DIAG", -1).report.status_text, "9       ");
  for (int n : {1, 7, 8, 9})
    EXPECT_TRUE(Contains(ReadFileText(Linux("JOB/S01/DIAG" + std::to_string(n) + ".txt")),
                         "diag-marker\r\n"))
        << n;
  EXPECT_FALSE(fs::exists(Linux("JOB/S01/DIAG2.txt")));
  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  StatUntilFinal();
  EndConversation();
}

}  // namespace
}  // namespace x5::e2e
