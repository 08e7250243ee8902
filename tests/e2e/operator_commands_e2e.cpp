// Operator commands against a running step: reports, hold and resume, kill, priority, DIAG files.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

// The system's priority class values, as the step helper reads them back.
constexpr unsigned long kNormalPriorityClass = 0x20;
constexpr unsigned long kHighPriorityClass = 0x80;
constexpr unsigned long kBelowNormalPriorityClass = 0x4000;
constexpr unsigned long kAboveNormalPriorityClass = 0x8000;

using OperatorCommands = RunnerTest;

std::string TaskLine(unsigned long pid, const char* what) {
  return "\r\n***** Task #" + std::to_string(pid) + " " + what + " on user request *****\r\n";
}

TEST_F(OperatorCommands, HoldStopsTheStepAndTwoResumesLetItRunAgain) {
  Start(Task(step_ + " pidfile " + Win("pid.txt") + " tick " + Win("ticks.txt") + " 100 0"));
  const fs::path ticks = Linux("ticks.txt");
  ASSERT_TRUE(WaitUntil([&] { return LineCount(ticks) >= 3; })) << "the step does not tick";
  const std::vector<unsigned long> pids = ReadPids(Linux("pid.txt"));
  ASSERT_EQ(pids.size(), 1u);

  // Two holds: the step's threads are suspended twice.
  ReportRecord hold = Exchange("STOP");
  EXPECT_EQ(hold.report.status_text, "0       ");  // no error while suspending
  EXPECT_EQ(hold.report.status_code, kStillRunning);
  EXPECT_EQ(hold.report.phase, 2);
  EXPECT_EQ(Exchange("STOP").report.status_text, "0       ");
  // A line being written at the moment of the hold may still land; after that nothing may.
  const size_t at_hold = LineCount(ticks);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const size_t settled = LineCount(ticks);
  EXPECT_LE(settled, at_hold + 1);
  EXPECT_EQ(Exchange("STAT").report.status_text, "1       ");

  // One resume of two holds: still held.
  EXPECT_EQ(Exchange("STRT").report.status_text, "0       ");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(LineCount(ticks), settled) << "the step ran after one resume of two holds";

  // The second resume: the step runs again.
  EXPECT_EQ(Exchange("STRT").report.status_text, "0       ");
  EXPECT_TRUE(WaitUntil([&] { return LineCount(ticks) >= settled + 3; }))
      << "the step did not run again after the resumes";
  ReportRecord running = Exchange("STAT");
  EXPECT_EQ(running.report.status_text, "1       ");
  EXPECT_EQ(running.report.status_code, kStillRunning);
  EXPECT_EQ(running.report.phase, 2);

  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  ReportRecord final_report = Exchange("STAT");
  EXPECT_EQ(final_report.report.phase, 4);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.text, TaskLine(pids[0], "HOLDED") + TaskLine(pids[0], "HOLDED") +
                                   TaskLine(pids[0], "RESUMED") + TaskLine(pids[0], "RESUMED") +
                                   TaskLine(pids[0], "KILLED"));
  EndConversation();
  // None of the hold lines reach the job log: they belong to the report text.
  EXPECT_EQ(ReadFileText(Linux("console.txt")).find("HOLDED"), std::string::npos);
}

// A KILL of a held tree, with an exit code: the whole tree ends, held or not.
TEST_F(OperatorCommands, KillWithExitCodeEndsTheHeldStepItsChildAndGrandchild) {
  Start(Task(step_ + " tree 2 " + Win("pids.txt") + " 60000"));
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 3; }));
  const unsigned long main_pid = ReadPids(Linux("pids.txt"))[0];
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 3);
  // A watcher holds the main process open so that its exit code can be read after its end.
  std::string error;
  auto watcher = StartChildProcess({"wine", (fs::path(mingw_) / "x5step.exe").string(), "exitof",
                                    Win("pids.txt"), Win("exit.txt")},
                                   error);
  ASSERT_TRUE(watcher) << error;
  watcher->CloseInput();
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Linux("exit.txt.open")); }));

  EXPECT_EQ(Exchange("STOP").report.status_text, "0       ");
  ReportRecord kill = Exchange("KILL", 5);
  EXPECT_EQ(kill.report.status_text, "999     ");
  EXPECT_EQ(kill.report.phase, 2);
  EXPECT_EQ(kill.report.report_text_length, 0);

  ReportRecord final_report = Exchange("STAT");
  EXPECT_EQ(final_report.report.phase, 4);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.report.status_code, 0);
  EXPECT_EQ(final_report.report.current_rc, 1);
  EXPECT_EQ(final_report.report.result_flag, '+');
  EXPECT_EQ(final_report.text, TaskLine(main_pid, "HOLDED") + TaskLine(main_pid, "KILLED"));
  // Before "END ": the clean-up has not run yet, so the KILL alone has ended the tree.
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
  EndConversation();
  EXPECT_EQ(watcher->Wait(std::chrono::steady_clock::now() + std::chrono::seconds(60)),
            std::optional<int32_t>(0));
  EXPECT_EQ(ReadFileText(Linux("exit.txt")), "5") << "the exit code of the killed main process";
  EXPECT_NE(ReadFileText(Linux("console.txt")).find("RC#" + std::to_string(main_pid) + "=STEP OK"),
            std::string::npos);
}

TEST_F(OperatorCommands, EndOfAHeldStepLetsItFinish) {
  // The runner waits for the step after "END " without a limit: a step still held would never end.
  Start(Task(step_ + " pidfile " + Win("pid.txt") + " tick " + Win("ticks.txt") + " 100 15"));
  ASSERT_TRUE(WaitUntil([&] { return LineCount(Linux("ticks.txt")) >= 2; }));
  const unsigned long main_pid = ReadPids(Linux("pid.txt")).at(0);
  EXPECT_EQ(Exchange("STOP").report.status_text, "0       ");
  ReportRecord end = Exchange("END ");
  EXPECT_EQ(end.report.status_text, "998     ");
  EXPECT_EQ(end.report.phase, 2);
  ReportRecord final_report = Exchange("STAT");  // answered once the step has ended
  EXPECT_EQ(final_report.report.phase, 4);
  EXPECT_EQ(final_report.report.status_text, "STEP OK ");
  EXPECT_EQ(final_report.text, TaskLine(main_pid, "HOLDED"));
  EndConversation();
  EXPECT_EQ(LineCount(Linux("ticks.txt")), 15u);
}

struct ProcessPriority {
  unsigned long pid = 0;
  unsigned long priority_class = 0;
  std::vector<int> thread_priorities;
};

class OperatorPriority : public RunnerTest {
 protected:
  // What the step helper reads of the processes listed in pids.txt.
  std::vector<ProcessPriority> ReadPriorities() {
    fs::remove(Linux("prio.txt"));
    EXPECT_EQ(RunHelper({"prio", Win("pids.txt"), Win("prio.txt")}), 0);
    std::vector<ProcessPriority> result;
    std::istringstream lines(ReadFileText(Linux("prio.txt")));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream in(line);
      ProcessPriority p;
      std::string threads;
      in >> p.pid >> p.priority_class >> threads;
      std::istringstream list(threads);
      std::string one;
      while (std::getline(list, one, ','))
        p.thread_priorities.push_back(std::stoi(one));
      result.push_back(p);
    }
    return result;
  }

  void ExpectEveryProcess(unsigned long priority_class, int thread_priority, const char* after) {
    const std::vector<ProcessPriority> all = ReadPriorities();
    ASSERT_EQ(all.size(), 2u) << after;
    for (const ProcessPriority& p : all) {
      EXPECT_EQ(p.priority_class, priority_class) << after << ", process " << p.pid;
      ASSERT_FALSE(p.thread_priorities.empty()) << after;
      for (int t : p.thread_priorities)
        EXPECT_EQ(t, thread_priority) << after << ", process " << p.pid;
    }
  }
};

TEST_F(OperatorPriority, LaunchPriorityThenPrtyReachesEveryProcessOfTheJob) {
  TaskRecord t = Task(step_ + " tree 1 " + Win("pids.txt") + " 60000");
  t.priority = 15;  // below normal class, highest thread priority
  Start(t);
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 2; }));
  EXPECT_EQ(Exchange("STAT").report.status_text, "1       ");

  // The launch priority is set on the main process and its thread.
  const std::vector<ProcessPriority> launched = ReadPriorities();
  ASSERT_FALSE(launched.empty());
  EXPECT_EQ(launched[0].priority_class, kBelowNormalPriorityClass);
  ASSERT_FALSE(launched[0].thread_priorities.empty());
  EXPECT_EQ(launched[0].thread_priorities[0], 2);

  struct Case {
    int32_t code;
    unsigned long priority_class;
    int thread_priority;
  };
  for (const Case& c : {Case{41, kHighPriorityClass, -2}, Case{30, kAboveNormalPriorityClass, -15},
                        Case{99, kNormalPriorityClass, 0}}) {
    ReportRecord r = Exchange("PRTY", c.code);
    EXPECT_EQ(r.report.status_text, "1       ") << "PRTY leaves the report code";
    ExpectEveryProcess(c.priority_class, c.thread_priority,
                       ("PRTY " + std::to_string(c.code)).c_str());
  }
  // The code read is not sent: the report code stays.
  EXPECT_EQ(Exchange("GPRT").report.status_text, "1       ");
  ExpectEveryProcess(kNormalPriorityClass, 0, "GPRT");
  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  StatUntilFinal();
  EndConversation();
}

TEST_F(OperatorCommands, DiagWritesNumberedConsoleCopiesAndUnknownCommandsAnswerNine) {
  Start(Task(step_ + " echo diag-marker write " + Win("ready.txt") + " x sleep 60000"));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(Linux("ready.txt")); }));
  EXPECT_EQ(Exchange("STAT").report.status_text, "1       ");
  for (int32_t argument : {-1, 7, -1}) {
    EXPECT_EQ(Exchange("DIAG", argument).report.status_text, "1       ") << "DIAG keeps the code";
  }
  for (const char* unknown : {"stat", "ENDX", "DIA", "KIL!"}) {
    EXPECT_EQ(Exchange(unknown).report.status_text, "9       ") << unknown;
  }
  EXPECT_EQ(Exchange("DIAG", -1).report.status_text, "9       ");
  const fs::path step_dir = Linux("JOB/S01");
  for (int n : {1, 7, 8, 9}) {
    const std::string text = ReadFileText(step_dir / ("DIAG" + std::to_string(n) + ".txt"));
    EXPECT_NE(text.find("diag-marker\r\n"), std::string::npos) << "DIAG" << n << ": " << text;
  }
  for (int n : {0, 2, 10})
    EXPECT_FALSE(fs::exists(step_dir / ("DIAG" + std::to_string(n) + ".txt"))) << n;
  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  StatUntilFinal();
  EndConversation();
}

}  // namespace
}  // namespace x5::e2e
