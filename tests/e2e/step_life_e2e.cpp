// A step's life does not hang on its parent or on its runner: a parent that goes away does not
// take the step's work with it, and a runner that dies takes the whole step tree with it.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using StepLife = RunnerTest;

// The step works on after its parent has gone: a file written seconds later, and its last line.
std::string LateWork(const std::string& step, const std::string& file) {
  return step + " echo begun sleep 3000 write " + file + " done echo finished";
}

void ExpectFinishedAlone(const std::string& console, const std::string& work) {
  EXPECT_EQ(work, "done");
  EXPECT_NE(console.find("***** Parent pipe closed - the runner carries on without operator "
                         "commands *****\r\n"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("finished\r\n"), std::string::npos) << console;
  // The whole job log block: the step ended normally and was measured.
  EXPECT_NE(console.find("=STEP OK /0\r\n"), std::string::npos) << console;
  EXPECT_NE(console.find("\r\nEnded   "), std::string::npos) << console;
}

TEST_F(StepLife, ParentClosingInputMidStepLetsTheStepFinishItsWork) {
  Start(Task(LateWork(step_, Win("work.txt"))));
  EXPECT_EQ(Exchange("STAT").report.phase, 2);
  session_->CloseInput();

  // The runner answers as if "END " had come: one final report, sent once the step has ended.
  std::optional<std::vector<uint8_t>> rest = session_->ReadRemaining();
  ASSERT_TRUE(rest) << session_->LastError();
  ASSERT_GE(rest->size(), kStepReportSize);
  const StepReport last =
      DecodeStepReport(std::span<const uint8_t, kStepReportSize>(rest->data(), kStepReportSize));
  EXPECT_EQ(last.phase, 5);
  EXPECT_EQ(last.status_text, "STEP OK ");
  EXPECT_EQ(rest->size(), kStepReportSize + static_cast<size_t>(last.report_text_length));
  EXPECT_EQ(ReadFileText(Linux("work.txt")), "done") << "reported before the step's work was done";
  EXPECT_EQ(session_->Wait(), std::optional<int32_t>(0));
  ExpectFinishedAlone(ReadFileText(Linux("console.txt")), ReadFileText(Linux("work.txt")));
}

// Both pipes gone: the input ends right after the task, and the reader of the output has left
// before the final report is written. The write fails and the run goes on to its end.
TEST_F(StepLife, ParentGoneBothWaysStillSavesTheJobLog) {
  TaskRecord task = Task(LateWork(step_, Win("work.txt")));
  FillBlockLengths(task, blocks_);
  const std::vector<uint8_t> stream = EncodeTaskStream(task, blocks_);
  {
    std::ofstream out(Linux("task.bin"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(stream.data()),
              static_cast<std::streamsize>(stream.size()));
  }
  const std::string command = "wine '" + runner_ + "' < '" + Linux("task.bin").string() +
                              "' | head -c " + std::to_string(kStatusRecordSize) + " > '" +
                              Linux("status.bin").string() + "'";
  std::string error;
  auto shell = StartChildProcess({"sh", "-c", command}, error);
  ASSERT_TRUE(shell) << error;
  shell->CloseInput();
  // The shell returns once the runner has ended.
  EXPECT_EQ(shell->Wait(std::chrono::steady_clock::now() + std::chrono::seconds(60)),
            std::optional<int32_t>(0));
  EXPECT_EQ(ReadFileText(Linux("status.bin")).substr(16, 8), "Started ");
  ExpectFinishedAlone(ReadFileText(Linux("console.txt")), ReadFileText(Linux("work.txt")));
}

TEST_F(StepLife, KilledRunnerTakesTheWholeStepTreeWithIt) {
  Start(Task(step_ + " tree 2 " + Win("pids.txt") + " 60000"));
  EXPECT_EQ(Exchange("STAT").report.phase, 2);
  ASSERT_TRUE(WaitUntil([&] { return ReadPids(Linux("pids.txt")).size() == 3; }));
  ASSERT_EQ(AliveCount(Linux("pids.txt")), 3);
  // As a crash or an operator ending the runner: SIGKILL of its Wine process, no clean-up at all.
  session_->Kill();
  EXPECT_TRUE(session_->Wait());
  EXPECT_TRUE(
      WaitUntil([&] { return AliveCount(Linux("pids.txt")) == 0; }, std::chrono::seconds(15)))
      << AliveCount(Linux("pids.txt")) << " step processes outlived their runner";
}

}  // namespace
}  // namespace x5::e2e
