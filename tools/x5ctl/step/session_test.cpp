// RunnerSession: whole records from pieces, deadlines, ends of pipe, and real child processes.
#include "x5ctl/step/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "x5ctl/testing/fake_child.h"

namespace x5::ctl::step {
namespace {

using testing::FakeChild;
using testing::FakeState;

std::shared_ptr<testing::FakeState> NewState(std::string to_parent = {}) {
  auto state = std::make_shared<testing::FakeState>();
  state->to_parent = std::move(to_parent);
  return state;
}

// A negative text length is no text, not text to the end: the next report is read whole.
TEST(Session, RecordsAreAssembledFromOneBytePieces) {
  protocol::StatusRecord status;
  status.status_text = std::string(protocol::kStatusStarted);
  protocol::StepReport no_text;
  no_text.report_text_length = -4;
  auto state = NewState();
  state->piece = 1;
  testing::Append(state->to_parent, protocol::EncodeStatusRecord(status));
  testing::Append(state->to_parent, protocol::EncodeStepReport(no_text));
  testing::QueueReport(*state, testing::PhaseReport(4, "STEP OK", "line\r\n"));
  RunnerSession session(std::make_unique<testing::FakeChild>(state));

  std::optional<protocol::StatusRecord> got = session.ReadStatus();
  ASSERT_TRUE(got) << session.LastError();
  EXPECT_EQ(got->status_text, protocol::kStatusStarted);
  std::optional<ReportRecord> first = session.ReadReport();
  ASSERT_TRUE(first) << session.LastError();
  EXPECT_EQ(first->text, "");
  std::optional<ReportRecord> report = session.ReadReport();
  ASSERT_TRUE(report) << session.LastError();
  EXPECT_EQ(report->report.status_text, "STEP OK ");
  EXPECT_EQ(report->text, "line\r\n");
  EXPECT_EQ(std::string(session.Received().begin(), session.Received().end()), state->to_parent);
}

TEST(Session, FailuresSayWhatWasAwaitedAndHowFarItGot) {
  auto failed = [](std::string to_parent, bool closed, auto read, SessionError kind,
                   const char* says) {
    auto state = NewState(std::move(to_parent));
    state->output_closed = closed;
    RunnerSession session(std::make_unique<testing::FakeChild>(state));
    session.SetTimeout(std::chrono::milliseconds(5));
    EXPECT_FALSE((session.*read)());
    EXPECT_EQ(session.LastErrorKind(), kind) << session.LastError();
    EXPECT_NE(session.LastError().find(says), std::string::npos) << session.LastError();
  };
  // A report cut short with the runner silent, a status record cut short by the end of the pipe.
  failed(std::string(50, '\0'), false, &RunnerSession::ReadReport, SessionError::kTimedOut,
         "a step report (50 of 80 bytes arrived)");
  failed(std::string(10, '\0'), true, &RunnerSession::ReadStatus, SessionError::kEndOfPipe,
         "10 of 28");
  protocol::StepReport huge;
  huge.report_text_length = RunnerSession::kMaxReportText + 1;
  std::string huge_bytes;
  testing::Append(huge_bytes, protocol::EncodeStepReport(huge));
  failed(huge_bytes, false, &RunnerSession::ReadReport, SessionError::kBadRecord,
         "more than any runner sends");
  // After the conversation too: bounded by size as well as by time.
  failed(std::string(RunnerSession::kMaxRemaining + 1, 'x'), false, &RunnerSession::ReadRemaining,
         SessionError::kBadRecord, "more than any runner sends");
  RunnerSession never_started;
  EXPECT_FALSE(never_started.ReadStatus());
  EXPECT_EQ(never_started.LastErrorKind(), SessionError::kNotStarted);
}

TEST(Session, DestructorEndsARunnerThatDoesNotExit) {
  auto state = NewState();
  { RunnerSession session(std::make_unique<testing::FakeChild>(state)); }
  EXPECT_TRUE(state->input_closed);
  EXPECT_TRUE(state->killed);
}

// Real processes: /bin/sh scripts stand in for the runner, so pipes, exit codes and kills are the
// operating system's own.
std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "x5ctl_session_" + std::to_string(getpid()) + "_" + name;
}

std::string Script(const std::string& name, const std::string& body) {
  const std::string path = TempPath(name);
  std::ofstream(path) << body;
  return path;
}

TEST(SessionProcess, SilentRunnerTimesOutAndIsKilledWithItsChildren) {
  const std::string pid_file = TempPath("child.pid");
  RunnerSession session;
  session.SetTimeout(std::chrono::milliseconds(300));
  const std::string script =
      Script("silent.sh", "sleep 30 &\necho $! > '" + pid_file + "'\nsleep 30\n");
  ASSERT_TRUE(session.Start(script, "/bin/sh")) << session.LastError();
  EXPECT_FALSE(session.ReadStatus());
  EXPECT_EQ(session.LastErrorKind(), SessionError::kTimedOut);
  session.Kill();
  EXPECT_EQ(session.Wait(), 128 + 9);
  // The step the runner started is in its process group and goes with it.
  int child = 0;
  std::ifstream(pid_file) >> child;
  std::remove(pid_file.c_str());
  std::remove(script.c_str());
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

TEST(SessionProcess, WritingToAnEndedRunnerFailsQuietly) {
  RunnerSession session;
  const std::string script = Script("ended.sh", "exit 0\n");
  ASSERT_TRUE(session.Start(script, "/bin/sh")) << session.LastError();
  ASSERT_EQ(session.Wait(), 0);
  std::remove(script.c_str());
  // Without SIGPIPE handling this would end the test binary.
  EXPECT_FALSE(session.SendBytes(std::vector<uint8_t>(1 << 20, 'x')));
  EXPECT_EQ(session.LastErrorKind(), SessionError::kEndOfPipe);
}

// The runner is looked for only where an installation puts it, never in a folder a step or another
// user could make (the zip unpacked in C:\, say, where anyone may make C:\mingw); and --runner
// that cannot be the runner is named at once.
TEST(RunnerPath, OnlyInstalledPlacesAndPlainProblems) {
  namespace fs = std::filesystem;
  const fs::path root =
      fs::path(::testing::TempDir()) / ("x5ctl_runner_" + std::to_string(getpid()));
  auto program = [](const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::string pe(0x44, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 0x40;
    std::ofstream(path, std::ios::binary) << pe << "PE" << std::string(2, '\0');
  };
  struct Row {
    const char* name;
    std::function<void()> lay_out;
    const char* own;     // x5ctl's folder under root
    const char* given;   // --runner, under root when not empty
    const char* result;  // the path found under root, or a part of the failure
  };
  const Row rows[] = {
      {"zip beside a planted mingw",
       [&] { program(root / "x5runner-1.0.0/x5runner.exe"), program(root / "mingw/x5runner.exe"); },
       "x5runner-1.0.0", "", "x5runner-1.0.0/x5runner.exe"},
      {"planted mingw alone",
       [&] {
         fs::create_directories(root / "x5runner-1.0.0"), program(root / "mingw/x5runner.exe");
       },
       "x5runner-1.0.0", "", "not found"},
      {"build tree",
       [&] {
         program(root / "build/mingw/x5runner.exe");
         fs::create_directories(root / "build/release");
         std::ofstream(root / "build/release/CMakeCache.txt") << "";
       },
       "build/release", "", "build/mingw/x5runner.exe"},
      {"package",
       [&] {
         program(root / "usr/lib/x5runner/x5runner.exe"), fs::create_directories(root / "usr/bin");
       },
       "usr/bin", "", "usr/lib/x5runner/x5runner.exe"},
      {"package folder others may change",
       [&] {
         program(root / "usr/lib/x5runner/x5runner.exe"), fs::create_directories(root / "usr/bin");
         fs::permissions(root / "usr/lib", fs::perms::all);
       },
       "usr/bin", "", "usr/lib may be changed by other users"},
      {"given folder", [&] { fs::create_directories(root / "dir"); }, "", "dir",
       "a folder, not the runner"},
      {"given missing", [] {}, "", "missing.exe", "no such file"},
      {"given text", [&] { std::ofstream(root / "task.toml") << "job_name = 'J'\n"; }, "",
       "task.toml", "not a Windows program"},
      {"given program", [&] { program(root / "x.exe"); }, "", "x.exe", "x.exe"},
  };
  for (const Row& row : rows) {
    fs::remove_all(root);
    fs::create_directories(root);
    row.lay_out();
    const std::string given = *row.given ? (root / row.given).string() : "";
    const core::Result<std::string> found = RunnerPathFrom(root / row.own, given, "wine");
    const std::string said = found ? *found : found.failure().text;
    const std::string expected = found ? (root / row.result).string() : row.result;
    EXPECT_NE(said.find(expected), std::string::npos) << row.name << ": " << said;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace x5::ctl::step
