// RunnerSession: whole records from pieces, deadlines, ends of pipe, and real child processes.
#include "session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <thread>
#include <tuple>

#include "fake_child.h"

namespace x5 {
namespace {

using testing::FakeChild;
using testing::FakeState;

std::shared_ptr<FakeState> NewState(std::string to_parent = {}) {
  auto state = std::make_shared<FakeState>();
  state->to_parent = std::move(to_parent);
  return state;
}

TEST(Session, RecordsAreAssembledFromOneBytePieces) {
  StatusRecord status;
  status.status_text = "Started ";
  auto state = NewState();
  state->piece = 1;
  testing::Append(state->to_parent, EncodeStatusRecord(status));
  testing::QueueReport(*state, testing::PhaseReport(4, "STEP OK", "line\r\n"));
  RunnerSession session(std::make_unique<FakeChild>(state));

  std::optional<StatusRecord> got = session.ReadStatus();
  ASSERT_TRUE(got) << session.LastError();
  EXPECT_EQ(got->status_text, "Started ");
  std::optional<ReportRecord> report = session.ReadReport();
  ASSERT_TRUE(report) << session.LastError();
  EXPECT_EQ(report->report.status_text, "STEP OK ");
  EXPECT_EQ(report->text, "line\r\n");
  EXPECT_EQ(std::string(session.Received().begin(), session.Received().end()), state->to_parent);
}

TEST(Session, TaskLengthsComeFromTheBlocks) {
  auto state = NewState();
  RunnerSession session(std::make_unique<FakeChild>(state));
  TaskRecord task = DefaultTaskRecord();
  task.command_length = 999;  // replaced by the real length
  ASSERT_TRUE(session.SendTask(task, {"cmd", "", "\x01SET A=1"}));
  ASSERT_TRUE(session.Send("END", 7));
  ASSERT_EQ(state->from_parent.size(), kTaskRecordSize + 3 + 8 + 8);
  TaskRecord sent = DecodeTaskRecord(std::span<const uint8_t, kTaskRecordSize>(
      reinterpret_cast<const uint8_t*>(state->from_parent.data()), kTaskRecordSize));
  EXPECT_EQ(std::tie(sent.command_length, sent.conditions_length, sent.variables_length),
            std::make_tuple(3, 0, 8));
  EXPECT_EQ(state->from_parent.substr(state->from_parent.size() - 8, 4), "END ");
  EXPECT_EQ(session.Sent().size(), state->from_parent.size());
}

TEST(Session, FailuresSayWhatWasAwaitedAndHowFarItGot) {
  auto over = [](std::shared_ptr<FakeState> state) {
    auto session = std::make_unique<RunnerSession>(std::make_unique<FakeChild>(state));
    session->SetTimeout(std::chrono::milliseconds(5));
    return session;
  };
  auto expect = [](const RunnerSession& session, SessionError kind, const char* says) {
    EXPECT_EQ(session.LastErrorKind(), kind) << session.LastError();
    EXPECT_NE(session.LastError().find(says), std::string::npos) << session.LastError();
  };
  auto silent = over(NewState(std::string(50, '\0')));  // a report cut short, runner silent
  EXPECT_FALSE(silent->ReadReport());
  expect(*silent, SessionError::kTimedOut, "a step report (50 of 80 bytes arrived)");

  auto closed_state = NewState(std::string(10, '\0'));
  closed_state->output_closed = true;
  auto closed = over(closed_state);
  EXPECT_FALSE(closed->ReadStatus());
  expect(*closed, SessionError::kEndOfPipe, "10 of 28");

  StepReport huge;
  huge.report_text_length = RunnerSession::kMaxReportText + 1;
  auto huge_state = NewState();
  testing::Append(huge_state->to_parent, EncodeStepReport(huge));
  auto too_long = over(huge_state);
  EXPECT_FALSE(too_long->ReadReport());
  expect(*too_long, SessionError::kBadRecord, "");

  auto input_closed = over(NewState());
  input_closed->CloseInput();
  EXPECT_FALSE(input_closed->Send("STAT"));
  expect(*input_closed, SessionError::kNotStarted, "");
  RunnerSession never_started;
  EXPECT_FALSE(never_started.ReadStatus());
  expect(never_started, SessionError::kNotStarted, "");
}

TEST(Session, NegativeReportTextLengthMeansNoText) {
  StepReport report;
  report.report_text_length = -4;
  auto state = NewState();
  testing::Append(state->to_parent, EncodeStepReport(report));
  state->to_parent += "NEXT";
  RunnerSession session(std::make_unique<FakeChild>(state));
  std::optional<ReportRecord> got = session.ReadReport();
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->text.empty());
  EXPECT_EQ(state->read_pos, kStepReportSize);
}

TEST(Session, DestructorEndsARunnerThatDoesNotExit) {
  auto state = NewState();
  { RunnerSession session(std::make_unique<FakeChild>(state)); }
  EXPECT_TRUE(state->input_closed);
  EXPECT_TRUE(state->killed);
}

TEST(Session, CommandLineSplitsTheWineCommand) {
  EXPECT_EQ(RunnerCommandLine("C:\\x5runner.exe", ""),
            (std::vector<std::string>{"C:\\x5runner.exe"}));
  EXPECT_EQ(RunnerCommandLine("/b/x5runner.exe", "  env  WINEDEBUG=-all\twine "),
            (std::vector<std::string>{"env", "WINEDEBUG=-all", "wine", "/b/x5runner.exe"}));
}

// Real processes: /bin/sh scripts stand in for the runner, so pipes, partial writes, exit codes
// and kills are the operating system's own.
class SessionProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "x5ctl_session_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "'").c_str()), 0);
  }
  void TearDown() override { (void)std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string WriteFile(const std::string& name, std::span<const uint8_t> bytes) {
    return WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir_;
};

TEST_F(SessionProcess, SpeaksThroughRealPipes) {
  StatusRecord status;
  status.status_text = "Started ";
  StepReport report;
  report.status_text = "1       ";
  report.phase = 2;
  const std::string status_file = WriteFile("status.bin", EncodeStatusRecord(status));
  const std::string report_file = WriteFile("report.bin", EncodeStepReport(report));
  // The report comes in two writes with a pause between them.
  const std::string script =
      WriteFile("runner.sh", "dd bs=1 count=1088 of=/dev/null 2>/dev/null\ncat '" + status_file +
                                 "'\ndd bs=1 count=8 of='" + dir_ +
                                 "/command.bin' 2>/dev/null\nhead -c 30 '" + report_file +
                                 "'\nsleep 0.2\ntail -c +31 '" + report_file + "'\nexit 3\n");
  RunnerSession session;
  ASSERT_TRUE(session.Start(script, "/bin/sh")) << session.LastError();
  ASSERT_TRUE(session.SendTask(DefaultTaskRecord(), {"abc", "", ""})) << session.LastError();
  std::optional<StatusRecord> got = session.ReadStatus();
  ASSERT_TRUE(got) << session.LastError();
  EXPECT_EQ(got->status_text, "Started ");
  std::optional<ReportRecord> answer = session.Exchange("STAT");
  ASSERT_TRUE(answer) << session.LastError();
  EXPECT_EQ(answer->report.status_text, "1       ");
  session.CloseInput();
  std::optional<std::vector<uint8_t>> rest = session.ReadRemaining();
  ASSERT_TRUE(rest) << session.LastError();
  EXPECT_TRUE(rest->empty());
  EXPECT_EQ(session.Wait(), 3);
  std::ifstream command(dir_ + "/command.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(command), {}),
            std::string("STAT\0\0\0\0", 8));
}

TEST_F(SessionProcess, SilentRunnerTimesOutAndIsKilledWithItsChildren) {
  const std::string pid_file = dir_ + "/child.pid";
  const std::string script =
      WriteFile("runner.sh", "sleep 30 &\necho $! > '" + pid_file + "'\nsleep 30\n");
  RunnerSession session;
  session.SetTimeout(std::chrono::milliseconds(300));
  ASSERT_TRUE(session.Start(script, "/bin/sh")) << session.LastError();
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(session.ReadStatus());
  EXPECT_EQ(session.LastErrorKind(), SessionError::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
  session.Kill();
  EXPECT_EQ(session.Wait(), 128 + 9);
  // The step the runner started is in its process group and goes with it.
  int child = 0;
  std::ifstream(pid_file) >> child;
  ASSERT_GT(child, 0);
  auto ended = [&] {  // gone, or a zombie
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string line;
    return !std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z";
  };
  for (int i = 0; i < 100 && !ended(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(ended()) << "the runner's child outlived it";
}

TEST_F(SessionProcess, WritingToAnEndedRunnerFailsQuietly) {
  RunnerSession session;
  ASSERT_TRUE(session.Start(WriteFile("runner.sh", "exit 0\n"), "/bin/sh")) << session.LastError();
  ASSERT_EQ(session.Wait(), 0);
  // Without SIGPIPE handling this would end the test binary.
  EXPECT_FALSE(session.SendBytes(std::vector<uint8_t>(1 << 20, 'x')));
  EXPECT_EQ(session.LastErrorKind(), SessionError::kEndOfPipe);
}

TEST_F(SessionProcess, AMissingProgramIsAStartFailure) {
  RunnerSession session;
  EXPECT_FALSE(session.Start(dir_ + "/x5runner.exe", dir_ + "/no-such-wine"));
  EXPECT_EQ(session.LastErrorKind(), SessionError::kStartFailed);
  EXPECT_NE(session.LastError().find("no-such-wine"), std::string::npos) << session.LastError();
}

}  // namespace
}  // namespace x5
