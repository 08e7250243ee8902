// Job files: what each step's task becomes from the job's keys, its task file and its own keys,
// and every mistake named by file, line and key.
#include "x5ctl/job/job_file.h"

#include <gtest/gtest.h>

#include <map>

namespace x5::ctl::job {
namespace {

const std::map<std::string, std::string> kTaskFiles = {
    {"/jobs/load.toml",
     "command = 'load.exe'\nstep_maximum_rc = 2\ntask_rc = 7\nops = [\"STAT\"]\n"
     "job_name = 'OTHER'\n"},
    {"/jobs/broken.toml", "step_maximum_rc = 'two'\n"},
};

core::Result<Job> Parse(const std::string& text) {
  return ParseJobFile(text, "/jobs/nightly.toml", {}, [](const std::string& path) {
    const auto found = kTaskFiles.find(path);
    if (found == kTaskFiles.end())
      return core::Result<std::string>(core::Failure{path + ": cannot open the task file"});
    return core::Result<std::string>(found->second);
  });
}

// Each step as the runner would get it: number, folder, name, job name, task RC, range, command.
std::string Steps(const Job& job) {
  std::string shown;
  for (const JobStep& s : job.steps) {
    const protocol::TaskRecord& t = s.task.task;
    shown += std::to_string(s.number) + " " + std::to_string(t.step_number) + " " +
             t.step_directory + " " + s.name + " " + t.job_name + " " + std::to_string(t.task_rc) +
             " " + std::to_string(t.step_minimum_rc) + ".." + std::to_string(t.step_maximum_rc) +
             " " + s.task.blocks.command + "\n";
  }
  return shown;
}

TEST(JobFile, StepsTakeTheJobsKeysTheirTaskFileAndTheirOwn) {
  const std::string head = "job_name = 'NIGHTLY'\ntask_rc = 3\nstep_minimum_rc = 0\n";
  struct Row {
    const char* what;
    std::string text;
    std::string steps;  // or the refusal
  };
  const Row rows[] = {
      {"numbers and folders from the order, unless given",
       head + "[[step]]\ncommand = 'a.exe'\n[[step]]\nname = 'b'\nstep_number = 7\n"
              "command = 'b.exe'\n[[step]]\nstep_directory = 'LAST'\ncommand = 'c.exe'\n",
       "1 1 S01 S01 NIGHTLY 3 0..4 a.exe\n2 7 S07 b NIGHTLY 3 0..4 b.exe\n"
       "3 3 LAST LAST NIGHTLY 3 0..4 c.exe\n"},
      {"a task file over the job's defaults but not its own keys, the step's over both; its RC "
       "and ops are the job's",
       head + "[[step]]\ntask = 'load.toml'\nstep_minimum_rc = 1\n",
       "1 1 S01 load NIGHTLY 3 1..2 load.exe\n"},
      {"no step", head, "/jobs/nightly.toml: step: a job needs at least one [[step]] table"},
      {"a step's own RC", head + "[[step]]\ncommand = 'a'\n\n[[step]]\ntask_rc = 2\n",
       "/jobs/nightly.toml:8: task_rc: a step starts with the job's RC so far; give task_rc "
       "once, for the job's first step"},
      {"an op list", "ops = ['STAT']\n[[step]]\n",
       "/jobs/nightly.toml:1: ops: a job's steps run as `x5ctl exec` runs a step, without an op "
       "list"},
      {"a mistake in the job's keys, once", "maximum_rc = 'x'\n[[step]]\n",
       "/jobs/nightly.toml:1: maximum_rc: must be an integer"},
      {"a mistake in a step's keys", head + "[[step]]\n\ncommnd = 'a'\n",
       "/jobs/nightly.toml:6: commnd: unknown key"},
      {"a mistake in its task file names that file", head + "[[step]]\ntask = 'broken.toml'\n",
       "/jobs/broken.toml:1: step_maximum_rc: must be an integer"},
      {"a task file that is not there", head + "[[step]]\ntask = 'gone.toml'\n",
       "/jobs/nightly.toml:5: task: /jobs/gone.toml: cannot open the task file"},
      {"steps that are not tables", "step = 3\n",
       "/jobs/nightly.toml:1: step: must be tables ([[step]])"},
  };
  for (const Row& row : rows) {
    const core::Result<Job> job = Parse(row.text);
    EXPECT_EQ(job ? Steps(*job) : job.failure().text, row.steps) << row.what;
  }
}

TEST(JobFile, StateFolderAndFingerprints) {
  const core::Result<Job> beside = Parse("[[step]]\ncommand = 'a'\n");
  ASSERT_TRUE(beside) << beside.failure().text;
  EXPECT_EQ(beside->state_folder, "/jobs/nightly.state");
  EXPECT_EQ(beside->RcFilePath(), "/jobs/nightly.state/job.rc");
  const core::Result<Job> named = Parse(
      "state_folder = 'shared/x'\n[[step]]\ncommand = 'a'\n[[step]]\ncommand = 'a'\n"
      "password = 'other'\n[[step]]\ncommand = 'b'\n");
  ASSERT_TRUE(named) << named.failure().text;
  EXPECT_EQ(named->state_folder, "/jobs/shared/x");
  // The same task in another place gives the same fingerprint, whatever its password; another
  // command gives another.
  text::TaskFile moved = named->steps[1].task;
  moved.task.step_number = 1;
  moved.task.step_directory = "S01";
  EXPECT_EQ(TaskFingerprint(moved), named->steps[0].fingerprint);
  EXPECT_NE(named->steps[2].fingerprint, named->steps[0].fingerprint);
}

}  // namespace
}  // namespace x5::ctl::job
