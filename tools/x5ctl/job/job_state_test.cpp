// The job's state: the RC a restart starts with (and when a changed job makes it meaningless), the
// job's outcome from its steps', and a state file read back exactly or refused.
#include "x5ctl/job/job_state.h"

#include <gtest/gtest.h>

namespace x5::ctl::job {
namespace {

Job ThreeSteps(const std::string& third = "c.exe") {
  core::Result<Job> job = ParseJobFile(
      "task_rc = 2\n[[step]]\ncommand = 'a.exe'\n[[step]]\ncommand = 'b.exe'\n[[step]]\n"
      "command = '" +
          third + "'\n",
      "/jobs/j.toml", {}, {});
  EXPECT_TRUE(job) << job.failure().text;
  return job ? std::move(*job) : Job{};
}

// A step that ran: its exit status, the flag and RC of its final report; it let the job go on
// unless it was stopped (128 + N) or its runner failed (not started, broke off, no answer).
StepRecord Ran(int number, int status, char flag, int32_t rc) {
  StepRecord s;
  s.number = number;
  s.run = "r1";
  s.stage = Stage::kDone;
  s.maximum_rc = 4;
  s.exit_status = status;
  s.meaning = "what exec said";
  const bool runner_failed = status == step::kExecNotStarted || status == step::kExecBrokeOff ||
                             status == step::kExecTimedOut;
  if (!runner_failed) {
    s.status_text = status == 121 ? "RC <>   " : "STEP OK ";
    s.result_flag = flag;
    s.current_rc = rc;
    s.rc_out = rc;
  }
  s.goes_on = !runner_failed && status < step::kExecSignalBase;
  return s;
}

JobState StateOf(const Job& job, std::vector<StepRecord> steps) {
  JobState state = StartRun(job, std::nullopt, 1, 3, "r1", "job run");
  for (size_t i = 0; i < steps.size(); ++i) {
    steps[i].fingerprint = job.steps[i].fingerprint;
    state.steps[i] = steps[i];
  }
  return state;
}

TEST(JobState, RestartStartsWithTheRcTheJobHadThere) {
  const Job job = ThreeSteps();
  const JobState killed_at_third =
      StateOf(job, {Ran(1, 8, '-', 8), Ran(2, 121, '+', 8), Ran(3, 143, '+', 8)});
  StepRecord broke_off = Ran(2, step::kExecBrokeOff, '+', 0);
  const JobState second_broke_off = StateOf(job, {Ran(1, 0, '+', 3), broke_off});
  struct Row {
    const char* what;
    const Job& job;
    std::optional<JobState> state;
    int step;
    std::string rc;  // or the refusal, after "cannot start at step N: "
  };
  const Job changed_first = [] {
    core::Result<Job> j = ParseJobFile(
        "task_rc = 2\n[[step]]\ncommand = 'A.exe'\n[[step]]\ncommand = 'b.exe'\n[[step]]\n"
        "command = 'x.exe'\n",
        "/jobs/j.toml", {}, {});
    return std::move(*j);
  }();
  const Job changed_third = ThreeSteps("fixed.exe");
  const Row rows[] = {
      {"the first step: the job's task RC", job, std::nullopt, 1, "2"},
      {"the RC the step before left", job, killed_at_third, 3, "8"},
      {"a later step may have changed", changed_third, killed_at_third, 3, "8"},
      {"a step before it changed", changed_first, killed_at_third, 3,
       "step 1 (S01) has changed since it ran, so the RC the steps after it left no longer "
       "follows from the job; start at step 1 or before"},
      {"a step before it left no RC", job, second_broke_off, 3,
       "step 2 (S02) left no RC (what exec said); start at step 2 or before"},
      {"a step before it never ran", job, StateOf(job, {Ran(1, 0, '+', 3)}), 3,
       "step 2 (S02) has not run; start at step 2 or before"},
      {"no such step", job, second_broke_off, 4, "the job has steps 1 to 3"},
      {"no state yet", job, std::nullopt, 2, "step 1 (S01) has not run; start at step 1 or before"},
  };
  for (const Row& row : rows) {
    const core::Result<int32_t> rc = RcAt(row.job, row.state, row.step);
    const std::string prefix =
        "/jobs/j.toml: cannot start at step " + std::to_string(row.step) + ": ";
    EXPECT_EQ(rc ? std::to_string(*rc) : rc.failure().text, rc ? row.rc : prefix + row.rc)
        << row.what;
  }
}

TEST(JobState, OutcomeOfTheJobFromItsSteps) {
  const Job job = ThreeSteps();
  StepRecord waiting;
  waiting.number = 3;
  waiting.stage = Stage::kWaiting;
  StepRecord not_run = waiting;
  not_run.stage = Stage::kNotRun;
  struct Row {
    const char* what;
    std::vector<StepRecord> steps;
    std::optional<int> status;  // nullopt: the job has not ended
  };
  const Row rows[] = {
      {"every step ran", {Ran(1, 0, '+', 1), Ran(2, 0, '+', 3), Ran(3, 0, '+', 4)}, 0},
      {"a skipped last step changes nothing",
       {Ran(1, 0, '+', 1), Ran(2, 3, '+', 3), Ran(3, 121, '+', 3)},
       3},
      {"an abend, then a step that runs in abend mode",
       {Ran(1, 8, '-', 8), Ran(2, 121, '+', 8), Ran(3, 0, '+', 8)},
       8},
      {"ended as requested", {Ran(1, 120, '-', 0), Ran(2, 120, '-', 0), Ran(3, 120, '-', 0)}, 120},
      {"stopped from outside: the steps after it not run",
       {Ran(1, 0, '+', 1), Ran(2, 143, '+', 1), not_run},
       143},
      {"a runner that broke off",
       {Ran(1, step::kExecBrokeOff, '+', 0), not_run, not_run},
       step::kExecBrokeOff},
      {"a step still waiting", {Ran(1, 0, '+', 1), Ran(2, 0, '+', 1), waiting}, std::nullopt},
  };
  for (const Row& row : rows) {
    const std::optional<step::ExecOutcome> outcome = JobOutcome(StateOf(job, row.steps));
    EXPECT_EQ(outcome ? std::optional<int>(outcome->status) : std::nullopt, row.status) << row.what;
  }
  // A step after one that stopped the job may not start; one after a step that went on may.
  const JobState stopped = StateOf(job, {Ran(1, 0, '+', 1), Ran(2, 143, '+', 1), waiting});
  EXPECT_EQ(StoppedBefore(stopped, 3), &stopped.steps[1]);
  EXPECT_EQ(StoppedBefore(stopped, 2), nullptr);
}

TEST(JobState, FileReadsBackExactlyAndRefusesWhatItDidNotWrite) {
  const Job job = ThreeSteps();
  JobState state = StateOf(job, {Ran(1, 8, '-', 8), Ran(2, 121, '+', 8)});
  state.steps[0].name = "caf\xe9\x01";  // ANSI bytes, a control character among them
  state.steps[0].step_exit_code = 3221225477u;
  state.steps[0].seconds = 1.5;
  const core::Result<JobState> back = ParseStateText(StateText(state), "s.json");
  ASSERT_TRUE(back) << back.failure().text;
  EXPECT_EQ(StateText(*back), StateText(state));
  EXPECT_NE(FormatTable(*back).find("caf\xc3\xa9\\x01"), std::string::npos) << FormatTable(*back);

  for (const std::string& damaged :
       {std::string("{}"), std::string("[") + std::string(100000, '[') + "]",
        StateText(state).substr(0, 200), std::string("{\"format\":\"x5ctl job state 9\"}")}) {
    const core::Result<JobState> refused = ParseStateText(damaged, "s.json");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().text.rfind("s.json: not a job state this x5ctl can read (", 0), 0u)
        << refused.failure().text;
  }
}

}  // namespace
}  // namespace x5::ctl::job
