// `x5ctl exec` as a scheduler runs it: the exit statuses only a real run gives (the table's other
// rows have unit tests), stop, hold and resume signals, a hard kill of x5ctl, the scheduler
// examples that can run here, and a job of several steps run as exec runs each.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

extern char** environ;

namespace x5::e2e {
namespace {

struct ExecRun {
  int status = -1;
  std::string out;  // the job log
  std::string err;  // reports and the outcome
};

// What a row does to x5ctl while the step runs (the step has written running.txt by then).
using Action = std::function<void(pid_t x5ctl)>;

class Exec : public RunnerTest {
 protected:
  fs::path Tool() const { return fs::path(ctl::host::ExecutableDirectory()) / "x5ctl"; }

  // A task file for this test; in `command` the step helper is written as STEP, and the file the
  // step writes once it runs as RUNNING.
  fs::path WriteTask(std::string command, const std::string& more = {}) {
    for (size_t at = command.find("STEP"); at != std::string::npos; at = command.find("STEP"))
      command.replace(at, 4, step_);
    if (size_t at = command.find("RUNNING"); at != std::string::npos)
      command.replace(at, 7, Win("running.txt"));
    const fs::path path = Linux("task.toml");
    std::ofstream(path, std::ios::binary) << TaskFileHead() << "command = '" << command << "'\n"
                                          << more;
    return path;
  }

  // Starts argv[0] (searched on PATH) in this test's folder, where the --wine scripts look for
  // running.txt; its standard output and error go to files there.
  pid_t Spawn(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (const auto& [fd, name] : {std::pair{1, "out.txt"}, std::pair{2, "err.txt"}})
      posix_spawn_file_actions_addopen(&actions, fd, Linux(name).c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir_linux_.c_str());
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Starts argv on a step that starts two more processes and waits until all three run.
  pid_t StartTree(const std::vector<std::string>& argv) {
    WriteTask("STEP write RUNNING yes tree 2 " + Win("pids.txt") + " 120000");
    const pid_t pid = Spawn(argv);
    EXPECT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 3; }));
    return pid;
  }

  // Runs an example of docs/schedulers.md with x5ctl as the one it calls.
  ExecRun RunExample(const char* script, std::vector<std::string> args) {
    const fs::path examples = fs::path(X5_SOURCE_DIR) / "examples" / "schedulers";
    args.insert(args.begin(),
                {"env", "X5CTL=" + Tool().string(), "sh", (examples / script).string()});
    return Finish(Spawn(args));
  }

  ExecRun Finish(pid_t pid) {
    ExecRun ran;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ran.out = ReadFileText(Linux("out.txt"));
    ran.err = ReadFileText(Linux("err.txt"));
    return ran;
  }

  ExecRun RunExec(const std::vector<std::string>& options, const Action& action = {}) {
    std::vector<std::string> argv{Tool().string(), "exec", Linux("task.toml").string(), "--runner",
                                  runner_};
    argv.insert(argv.end(), options.begin(), options.end());
    const pid_t pid = Spawn(argv);
    if (action) {
      EXPECT_TRUE(WaitUntil([&] { return fs::exists(Linux("running.txt")); }));
      action(pid);
    }
    return Finish(pid);
  }
};

void Signals(pid_t pid, std::initializer_list<int> signals, int pause_ms = 300) {
  for (int sig : signals) {
    kill(pid, sig);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  }
}

struct Row {
  const char* name;
  const char* command;
  const char* more_toml;
  std::vector<std::string> options;  // "WRAPPER": the row's --wine script; "JSON": a file whose
                                     // JSON lines are checked with the standard error
  const char* wrapper;               // body of that script, or null
  std::function<void(pid_t)> action;
  int status;
  const char* in_err;  // a line the reports or the outcome must hold
  const char* in_log;  // a line the printed job log must hold, or null for no job log
};

// A step that says it runs and then takes its time, for the rows that act on a running step.
constexpr const char* kLongStep = "STEP write RUNNING yes sleep 20000";

class ExecRow : public Exec, public testing::WithParamInterface<Row> {};

TEST_P(ExecRow, ExitsWithItsStatus) {
  const Row& row = GetParam();
  WriteTask(row.command, row.more_toml);
  std::vector<std::string> options = row.options;
  for (std::string& option : options) {
    if (option == "WRAPPER") {
      option = Linux("wine.sh").string();
      std::ofstream(option) << "#!/bin/sh\n" << row.wrapper;
      fs::permissions(option, fs::perms::owner_all);
    } else if (option == "JSON") {
      option = Linux("reports.json").string();
    }
  }
  const auto begin = std::chrono::steady_clock::now();
  ExecRun ran = RunExec(options, row.action);
  ran.err += ReadFileText(Linux("reports.json"));
  EXPECT_EQ(ran.status, row.status) << ran.err;
  EXPECT_NE(ran.err.find(row.in_err), std::string::npos) << ran.err;
  if (row.in_log != nullptr)
    EXPECT_NE(ran.out.find(row.in_log), std::string::npos) << ran.out;
  else
    EXPECT_EQ(ran.out, "");
  // No row may wait out the minute its --wine script sleeps.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(40));
}

// clang-format off
const Row kRows[] = {
    {"FailedByItsExitCode", "STEP exit 3", "", {"--fail-on-exit-code", "--json", "JSON"},
     nullptr, {}, 3, "main process failed: step exit code 3 (current RC 1; --fail-on-exit-code)"
     "\",\"record\":\"outcome\",\"step_exit_code\":3}", "=STEP OK /0\n"},
    {"AbendedAfterTheStep", "STEP echo from-the-step",
     "conditions = \"+>\\nR=8 F=(C:\\\\nosuch.txt > 0)\"\n", {"--json", "JSON"}, nullptr, {}, 8,
     "{\"exit_status\":8,\"meaning\":\"the step abended after the step", "from-the-step\n"},
    {"CaptureNotWritten", "STEP echo from-the-step", "", {"--capture", "/nonexistent/x5/c.bin"},
     nullptr, {}, 118, "exit status 118: the step ran, but a capture file could not be written",
     "from-the-step"},
    {"NotStarted", "STEP echo x", "", {"--wine", "WRAPPER"}, "exit 7\n", {}, 123,
     "the runner could not be started", nullptr},
    {"TimedOut", "STEP echo x", "", {"--wine", "WRAPPER", "--timeout", "1"},
     "sleep 60\nexec wine \"$@\"\n", {}, 119, "timed out", nullptr},
    // (A background command of sh reads /dev/null, so stdin goes through fd 3.)
    {"BrokeOff", kLongStep, "", {"--wine", "WRAPPER"},
     "exec 3<&0\nwine \"$@\" <&3 &\nwhile [ ! -e running.txt ]; do sleep 0.1; done\n"
     "kill -KILL $!\nwait\n", {}, 118,
     // Whether x5ctl was reading or writing when the runner went decides the detail, not this.
     "exit status 118: the runner broke off the conversation", nullptr},
    // Its own time limit: KILL with the evidence kept, and a status no wrapper gives.
    {"TimeLimitKillsWithEvidence", kLongStep, "", {"--time-limit", "2"}, nullptr, {}, 116,
     "KILLED on user request *****\nrunner exit code 0\n"
     "x5ctl: exit status 116: the step ran past its time limit of 2 s and was sent KILL",
     "Ending process #"},
    {"TerminatedAndExplained", kLongStep, "", {"--explain"}, nullptr,
     [](pid_t p) { Signals(p, {SIGTERM}); }, 143,
     "KILLED on user request *****\nrunner exit code 0\n"
     "explanation: The step was killed: the operator ended it", "Ending process #"},
    {"HungUpWithAKillCode", kLongStep, "", {"--kill-code", "7"}, nullptr,
     [](pid_t p) { Signals(p, {SIGHUP}); }, 129, "command \"KILL\"  argument 7",
     "Ending process #"},
    // Two holds need two resumes: a RESUMED line with another task line after it.
    {"HeldTwiceThenResumed", "STEP write RUNNING yes sleep 1500", "", {}, nullptr,
     [](pid_t p) { Signals(p, {SIGTSTP, SIGTSTP, SIGCONT}); }, 0,
     "RESUMED on user request *****\n  |\n  | ***** Task #", ""},
    {"SecondSignalEndsTheRunnerAtOnce", "STEP echo x", "", {"--wine", "WRAPPER"},
     "touch running.txt\nsleep 60\n", [](pid_t p) { Signals(p, {SIGTERM, SIGTERM}, 1200); }, 143,
     "stopped on request", nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Exec, ExecRow, testing::ValuesIn(kRows), [](const auto& info) {
  return std::string(info.param.name);
});

// A scheduler that kills x5ctl outright (SIGKILL after its grace period) leaves nothing running:
// the runner dies with x5ctl, and the step's job with the runner.
TEST_F(Exec, HardKillLeavesNothingRunning) {
  const pid_t pid =
      StartTree({Tool().string(), "exec", Linux("task.toml").string(), "--runner", runner_});
  std::string runner_pid;
  std::ifstream(std::string("/proc/") + std::to_string(pid) + "/task/" + std::to_string(pid) +
                "/children") >>
      runner_pid;
  ASSERT_FALSE(runner_pid.empty());
  kill(pid, SIGKILL);
  EXPECT_EQ(Finish(pid).status, 128 + SIGKILL);
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists("/proc/" + runner_pid + "/exe"); }))
      << "the runner outlived x5ctl";
  EXPECT_TRUE(
      WaitUntil([&] { return AliveCount(Linux("pids.txt")) == 0; }, std::chrono::seconds(20)))
      << "the step outlived its runner";
}

// The job log reaches standard output while the step runs, a line a second, and shows the step's
// escape sequences without obeying them; what was moved stays in the console file after a hard
// kill of x5ctl.
TEST_F(Exec, PrintsTheJobLogWhileTheStepRunsAndLeavesItAfterAHardKill) {
  WriteTask("STEP esc paced 40 0 1 1000");
  const auto begin = std::chrono::steady_clock::now();
  const pid_t pid =
      Spawn({Tool().string(), "exec", Linux("task.toml").string(), "--runner", runner_});
  EXPECT_TRUE(WaitUntil([&] { return Contains(ReadFileText(Linux("out.txt")), "output line 3\n"); },
                        std::chrono::seconds(30)));
  // Well before the step's 40 s are over, x5ctl still holding the conversation.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "x5ctl ended";
  const std::string printed = ReadFileText(Linux("out.txt"));
  // However the console kept them, no control character reaches standard output.
  EXPECT_TRUE(Contains(printed, "[31mred")) << printed;
  EXPECT_TRUE(std::none_of(printed.begin(), printed.end(), [](char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F;
  })) << printed;
  EXPECT_LT(printed.find("output line 1\n"), printed.find("output line 2\n"));
  kill(pid, SIGKILL);
  Finish(pid);
  EXPECT_TRUE(Contains(ReadFileText(Linux("console.txt")), "output line 3\r\n"));
}

// The Windows build under Wine: Ctrl+C (Wine turns SIGINT into it) kills the step with its
// evidence, and a hard kill of x5ctl.exe ends its runner through the job that holds it.
TEST_F(Exec, WindowsToolStopsOnCtrlCAndTakesItsRunnerWhenKilled) {
  const std::vector<std::string> argv{"wine", (fs::path(mingw_) / "x5ctl.exe").string(), "exec",
                                      Linux("task.toml").string()};
  pid_t pid = StartTree(argv);
  kill(pid, SIGINT);
  ExecRun stopped = Finish(pid);
  EXPECT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_NE(stopped.err.find("command \"KILL\"  argument 130"), std::string::npos) << stopped.err;
  EXPECT_NE(stopped.out.find("Ending process #"), std::string::npos) << stopped.out;

  fs::remove(Linux("pids.txt"));
  pid = StartTree(argv);
  kill(pid, SIGKILL);
  Finish(pid);
  EXPECT_TRUE(
      WaitUntil([&] { return AliveCount(Linux("pids.txt")) == 0; }, std::chrono::seconds(20)))
      << "the step outlived x5ctl.exe";
}

// The examples of docs/schedulers.md that run without a scheduler (timeout's second SIGTERM to the
// process group must not end the runner at once).
TEST_F(Exec, SchedulerExamples) {
  WriteTask("STEP echo from-the-step", "conditions = \"+>\\nR=8 F=(C:\\\\nosuch.txt > 0)\"\n");
  ExecRun shell = RunExample("step.sh", {Linux("task.toml").string(), Linux("job.log").string()});
  EXPECT_EQ(shell.status, 8) << shell.err;
  EXPECT_EQ(shell.out, "step failed with RC 8\n");

  WriteTask(kLongStep);
  ExecRun limited =
      RunExample("timeout-step.sh", {"3s", Linux("task.toml").string(), Linux("job.log").string()});
  EXPECT_EQ(limited.status, 143) << limited.err;
  EXPECT_NE(limited.err.find("KILLED on user request"), std::string::npos) << limited.err;
  EXPECT_NE(ReadFileText(Linux("job.log")).find("Ending process #"), std::string::npos);
}

// Wine's own notices on the runner's standard error (a missing 32-bit part, fixme lines) stay off
// x5ctl's standard error, mixed with the reports, unless --wine-messages asks for them.
TEST_F(Exec, WineNoticesOnlyWhenAskedFor) {
  WriteTask("STEP echo from-the-step");
  const fs::path wine = Linux("wine-noisy");
  std::ofstream(wine) << "#!/bin/sh\necho 'a notice of Wine s own' >&2\nexec wine \"$@\"\n";
  fs::permissions(wine, fs::perms::owner_all);
  for (const bool asked : {false, true}) {
    std::vector<std::string> options{"--wine", wine.string()};
    if (asked)
      options.push_back("--wine-messages");
    const ExecRun ran = RunExec(options);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(Contains(ran.err, "a notice of Wine s own"), asked) << ran.err;
  }
}

// A job of three steps: the first abends (a rule after it sets RC 8), the second (range 1..4) is
// skipped in abend mode, the third (range 8..8) runs in abend mode until it is stopped from
// outside. While it runs a second run of the job is refused and the job's status shows it running.
// Started again at the third step (changed meanwhile), it gets the RC the job had there.
TEST_F(Exec, JobSkipsAbendsIsStoppedAndStartsAgainWhereItStopped) {
  const auto write_job = [&](const std::string& third) {
    std::ofstream(Linux("job.toml"))
        << "job_name = 'JOB'\njob_number = " << job_number_ << "\njob_base_directory = '" << dir_
        << "'\nconsole_file = '" << Win("console.txt") << "'\n"
        << "[[step]]\nname = 'first'\ncommand = '" << step_ << " echo from-the-first'\n"
        << "conditions = \"+>\\nR=8 F=(C:\\\\nosuch.txt > 0)\"\n"
        << "[[step]]\ncommand = '" << step_ << " echo from-the-second'\n"
        << "[[step]]\nname = 'recovery'\nstep_minimum_rc = 8\nstep_maximum_rc = 8\ncommand = '"
        << step_ << " " << third << "'\n";
  };
  const auto job_run = [&](std::vector<std::string> options) {
    options.insert(options.begin(), {Tool().string(), "job", "run", Linux("job.toml").string(),
                                     "--runner", runner_, "--json", Linux("job.json").string()});
    return options;
  };
  // Each step: stage, status text, current RC, flag, exit status, from the job record.
  const auto steps = [&] {
    const std::string json = ReadFileText(Linux("job.json"));
    const nlohmann::json job = nlohmann::json::parse(json.substr(json.rfind("\n{") + 1));
    std::string shown;
    for (const auto& s : job["steps"])
      shown += s["stage"].dump() + " " + s["status_text"].dump() + " " + s["current_rc"].dump() +
               " " + s["result_flag"].dump() + " " + s["exit_status"].dump() + "\n";
    return shown + "job " + job["exit_status"].dump();
  };

  write_job(std::string("write ") + Win("running.txt") + " yes sleep 20000");
  const pid_t pid = Spawn(job_run({}));
  // Three runners start one after another here, and a Wine process start beside other tests has
  // stalled for half a minute now and then.
  if (!WaitUntil([&] { return fs::exists(Linux("running.txt")); }, std::chrono::seconds(90))) {
    kill(pid, SIGTERM);
    const ExecRun late = Finish(pid);
    FAIL() << "the third step did not run; the job printed:\n" << late.out << late.err;
  }
  const auto second = RunProgram({Tool().string(), "job", "run", Linux("job.toml").string()});
  const auto status = RunProgram({Tool().string(), "job", "status", Linux("job.toml").string()});
  kill(pid, SIGTERM);
  const ExecRun stopped = Finish(pid);
  EXPECT_EQ(second.code, 123);
  EXPECT_TRUE(Contains(status.out, "running on ")) << status.out;
  EXPECT_EQ(stopped.status, 143) << stopped.err;
  EXPECT_EQ(steps(),
            "\"done\" \"STEP OK \" 8 \"-\" 8\n\"done\" \"RC <>   \" 8 \"+\" 121\n"
            "\"done\" \"STEP OK \" 8 \"+\" 143\njob 143");
  // Each step's job log under its header.
  const size_t first = stopped.out.find("===== step 1 of 3: first =====\n");
  const size_t third = stopped.out.find("===== step 3 of 3: recovery =====\n");
  EXPECT_LT(first, stopped.out.find("from-the-first\n")) << stopped.out;
  EXPECT_LT(stopped.out.find("from-the-first\n"), third) << stopped.out;
  EXPECT_LT(third, stopped.out.find("Ending process #")) << stopped.out;
  EXPECT_FALSE(Contains(stopped.out, "from-the-second"));

  write_job("echo recovery-with-%X5TRC%");
  const ExecRun again = Finish(Spawn(job_run({"--from", "3"})));
  EXPECT_EQ(again.status, 8) << again.err;
  EXPECT_TRUE(Contains(again.out, "recovery-with-8")) << again.out;
  EXPECT_EQ(steps(),
            "\"done\" \"STEP OK \" 8 \"-\" 8\n\"done\" \"RC <>   \" 8 \"+\" 121\n"
            "\"done\" \"STEP OK \" 8 \"+\" 0\njob 8");
  EXPECT_EQ(ReadFileText(Linux("job.state/job.rc")), "8\n");

  // --only runs one step with the RC the job had there; the other steps keep their records.
  const ExecRun only = Finish(Spawn(job_run({"--only", "2"})));
  EXPECT_EQ(only.status, 121) << only.err;
  EXPECT_TRUE(Contains(only.out, "===== step 2 of 3")) << only.out;
  EXPECT_FALSE(Contains(only.out, "recovery-with")) << only.out;
  EXPECT_EQ(steps(),
            "\"done\" \"STEP OK \" 8 \"-\" 8\n\"done\" \"RC <>   \" 8 \"+\" 121\n"
            "\"done\" \"STEP OK \" 8 \"+\" 0\njob 8");
}

}  // namespace
}  // namespace x5::e2e
