// A step's life does not hang on its parent: a parent that goes away does not take the step's work
// with it. That a runner that dies takes the step tree with it: Exec.HardKillLeavesNothingRunning.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using StepLife = RunnerTest;

// The parent goes away: the input ends right after the task, and the reader of the output leaves
// before the final report is written. The step works on (a file written seconds later, its last
// line) and the run goes on to its end: the job log block is saved whole.
TEST_F(StepLife, ParentGoneBothWaysLetsTheStepFinishAndSavesTheJobLog) {
  protocol::TaskRecord task =
      Task(step_ + " echo begun sleep 3000 write " + Win("work.txt") + " done echo finished");
  ctl::text::FillBlockLengths(task, blocks_);
  const std::vector<uint8_t> stream = ctl::text::EncodeTaskStream(task, blocks_);
  WriteText(Linux("task.bin"), std::string(stream.begin(), stream.end()));
  const std::string command = "wine '" + runner_ + "' < '" + Linux("task.bin").string() +
                              "' | head -c " + std::to_string(protocol::kStatusRecordSize) +
                              " > '" + Linux("status.bin").string() + "'";
  // The shell returns once the runner has ended.
  EXPECT_EQ(RunProgram({"sh", "-c", command}).code, std::optional<int32_t>(0));
  EXPECT_EQ(ReadFileText(Linux("status.bin")).substr(16, 8), "Started ");
  EXPECT_EQ(ReadFileText(Linux("work.txt")), "done");
  const std::string console = ReadFileText(Linux("console.txt"));
  for (const char* line :
       {"***** Parent pipe closed - the runner carries on without operator commands *****\r\n",
        "finished\r\n", "=STEP OK /0\r\n", "\r\nEnded   "})
    EXPECT_TRUE(Contains(console, line)) << line << "\n" << console;
}

}  // namespace
}  // namespace x5::e2e
