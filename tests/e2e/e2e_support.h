// Shared fixture of the end-to-end tests: a private folder inside the Wine prefix, the step
// helper program copied there, and a RunnerSession that speaks to x5runner.exe as a parent does.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console_layout.h"
#include "protocol/protocol.h"
#include "x5ctl/step/session.h"
#include "x5ctl/text/task_file.h"

namespace x5::e2e {

namespace fs = std::filesystem;

inline std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

// Text of a file on the Linux side, or "" when it is missing.
inline std::string ReadFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteText(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// Number of complete lines in a file (Linux path).
inline size_t LineCount(const fs::path& path) {
  const std::string text = ReadFileText(path);
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A copy of the console's rows (not the job log file, whose lines stay whole) breaks a line longer
// than the console is wide into rows; this joins them again. A row of exactly the width counts as broken (separator rows of "_" excepted), and so does
// a row one short of it: the saved form dropped the blank the line was broken at.
inline std::string Unwrapped(const std::string& console, size_t width = console::kJobLogColumns) {
  std::string out;
  size_t start = 0;
  while (start < console.size()) {
    size_t end = console.find("\r\n", start);
    if (end == std::string::npos) {
      out.append(console, start, std::string::npos);
      break;
    }
    const std::string_view row(console.data() + start, end - start);
    out.append(row);
    if (row.find_first_not_of('_') == std::string_view::npos || row.size() + 1 < width)
      out.append("\r\n");
    else if (row.size() + 1 == width)
      out.append(" ");
    start = end + 2;
  }
  return out;
}

// Every entry of a folder (not its subfolders) with its bytes; a folder shows as "<dir>".
inline std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir))
    entries[entry.path().filename().string()] =
        entry.is_directory() ? "<dir>" : ReadFileText(entry.path());
  return entries;
}

// The process ids listed in a pid file, in order.
inline std::vector<unsigned long> ReadPids(const fs::path& path) {
  std::istringstream in(ReadFileText(path));
  std::vector<unsigned long> pids;
  unsigned long pid = 0;
  while (in >> pid)
    pids.push_back(pid);
  return pids;
}

// Polls every 50 ms until `ready()` holds or `limit` has passed; whether it held. Generous limits
// keep the tests steady on a loaded machine without slowing them when it is not.
template <typename Predicate>
bool WaitUntil(Predicate ready, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (ready())
      return true;
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// What a program started by a test wrote to its standard output, and its exit code.
struct Ran {
  std::string out;
  std::optional<int32_t> code;
};

// Runs a program (argv[0] searched on PATH) with its input closed, at most `limit`.
inline Ran RunProgram(const std::vector<std::string>& argv,
                      std::chrono::seconds limit = std::chrono::seconds(60)) {
  Ran ran;
  core::Result<std::unique_ptr<ctl::host::ChildProcess>> started =
      ctl::host::StartChildProcess(argv);
  if (!started) {
    ADD_FAILURE() << started.failure().text;
    return ran;
  }
  std::unique_ptr<ctl::host::ChildProcess>& child = *started;
  child->CloseInput();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  ran.out = child->ReadUntilEnd(deadline);
  ran.code = child->Wait(deadline);
  return ran;
}

// Runs a Windows program of the test prefix (wine ARGS...).
inline Ran RunWine(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "wine");
  return RunProgram(arguments);
}

// Sets the capture lock's value, creating its key; the lock is taken only where its parent exists.
inline void SetCaptureLock(unsigned value) {
  (void)RunWine({"reg", "add", "HKLM\\Software\\Halvex\\Capture", "/v", "LOCK", "/t", "REG_DWORD",
                 "/d", std::to_string(value), "/f"});
}

// What a parent written from the protocol alone finds wrong in a runner's output: the status
// record's fields, and in every report the reserved fields, the record version, the phase (never
// going back) and the report text length (0 before the final reports, the bytes that follow in
// them). Bytes after the last whole record are a record cut short and not judged.
inline std::vector<std::string> StrictProtocolProblems(const std::vector<uint8_t>& bytes) {
  std::vector<std::string> problems;
  const auto i32 = [&](size_t at) {
    int32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  const auto zero = [&](size_t at, size_t n) {
    return std::all_of(bytes.begin() + at, bytes.begin() + at + n,
                       [](uint8_t b) { return b == 0; });
  };
  if (bytes.size() < protocol::kStatusRecordSize)
    return problems;
  if (!zero(0, 16) || std::string(bytes.begin() + 16, bytes.begin() + 24) != "Started " ||
      i32(24) != 0)
    problems.push_back("the status record is not the protocol's");
  uint8_t phase = 0;
  for (size_t at = protocol::kStatusRecordSize; at + protocol::kStepReportSize <= bytes.size();) {
    const std::string which = "report at byte " + std::to_string(at) + ": ";
    const int32_t text_length = i32(at + 76);
    if (!zero(at + 60, 8) || bytes[at + 75] != 0)
      problems.push_back(which + "a reserved field is not 0");
    if (bytes[at + 73] != 1)
      problems.push_back(which + "record version " + std::to_string(bytes[at + 73]));
    if (bytes[at + 74] > 5 || bytes[at + 74] < phase)
      problems.push_back(which + "phase " + std::to_string(bytes[at + 74]) + " after " +
                         std::to_string(phase));
    phase = bytes[at + 74];
    if (text_length < 0 || (phase < 4 && text_length != 0))
      problems.push_back(which + "report text length " + std::to_string(text_length));
    at += protocol::kStepReportSize + static_cast<size_t>(std::max(text_length, 0));
  }
  return problems;
}

class RunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "needs WINEPREFIX and DISPLAY (run through scripts/test)";
    }
    mingw_ = EnvOr("X5_MINGW_DIR", "build/mingw");
    runner_ = (fs::path(mingw_) / "x5runner.exe").string();
    ASSERT_TRUE(fs::exists(runner_)) << runner_;
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
      if (!isalnum(static_cast<unsigned char>(c)))
        c = '_';
    }
    drive_c_ = fs::path(prefix) / "drive_c";
    dir_linux_ = drive_c_ / "x5e2e" / name;
    fs::remove_all(dir_linux_);
    fs::create_directories(dir_linux_ / "JOB" / "S01");
    fs::create_directories(drive_c_ / "x5e2e" / "bin");
    fs::copy_file(fs::path(mingw_) / "x5step.exe", drive_c_ / "x5e2e" / "bin" / "x5step.exe",
                  fs::copy_options::update_existing);
    dir_ = "C:\\x5e2e\\" + name + "\\";
    step_ = "C:\\x5e2e\\bin\\x5step.exe";
    // The console title (user/job.number.step) names a runner's console and job: runners of tests
    // that run side by side must each have their own.
    job_number_ = static_cast<int32_t>(getpid());
  }

  // A task that runs, with its folders inside this test's private folder.
  protocol::TaskRecord Task(std::string command = {}) {
    protocol::TaskRecord t = ctl::text::DefaultTaskRecord();
    t.user_name = "tester";
    t.job_name = "JOB";
    t.job_number = job_number_;
    t.job_base_directory = dir_;
    t.step_directory = "S01";
    t.console_file = dir_ + "console.txt";
    blocks_ = ctl::text::TaskBlocks{};
    blocks_.command = std::move(command);
    return t;
  }

  // The head of a task file for x5ctl with this test's job and folders; the step's own keys follow.
  std::string TaskFileHead() const {
    return "job_name = 'JOB'\njob_number = " + std::to_string(job_number_) +
           "\njob_base_directory = '" + dir_ + "'\nstep_directory = 'S01'\nconsole_file = '" +
           Win("console.txt") + "'\n";
  }

  // Every runner a test starts is held to the protocol's bytes, as a parent written from the
  // protocol alone would hold it, unless its task asked for the extensions.
  void TearDown() override {
    if (session_ && strict_) {
      for (const std::string& problem : StrictProtocolProblems(session_->Received()))
        ADD_FAILURE() << problem;
    }
  }

  // Starts the runner (in `cwd`, a Linux path, when one is given), sends the task and checks the
  // exact status record.
  void Start(const protocol::TaskRecord& task, const fs::path& cwd = {}) {
    strict_ = !task.asks_extensions;
    session_ = std::make_unique<ctl::step::RunnerSession>();
    session_->SetTimeout(std::chrono::seconds(60));
    if (cwd.empty()) {
      ASSERT_TRUE(session_->Start(runner_)) << session_->LastError();
    } else {
      std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd.string()};
      for (std::string& part :
           ctl::step::RunnerCommandLine(runner_, ctl::host::DefaultWineCommand()))
        argv.push_back(std::move(part));
      ASSERT_TRUE(session_->Start(argv)) << session_->LastError();
    }
    ASSERT_TRUE(session_->SendTask(task, blocks_)) << session_->LastError();
    ASSERT_TRUE(session_->ReadStatus()) << session_->LastError();
    const std::string got(session_->Received().begin(), session_->Received().end());
    EXPECT_EQ(got.substr(0, protocol::kStatusRecordSize),
              std::string(16, '\0') + "Started " + std::string(4, '\0'));
  }

  ctl::step::ReportRecord Exchange(const char* name, int32_t argument = 0) {
    std::optional<ctl::step::ReportRecord> r = session_->Exchange(name, argument);
    EXPECT_TRUE(r) << name << ": " << session_->LastError();
    return r.value_or(ctl::step::ReportRecord{});
  }

  // Sends STAT until the step has been seen to end (a report of phase 4), at most `tries` times.
  ctl::step::ReportRecord StatUntilFinal(int tries = 100) {
    ctl::step::ReportRecord r;
    for (int i = 0; i < tries; ++i) {
      r = Exchange("STAT");
      if (protocol::IsFinal(r.report.phase) || HasFailure())
        return r;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "the step did not end";
    return r;
  }

  // Ends the conversation and checks that the runner closes its output and exits.
  ctl::step::ReportRecord EndConversation() {
    ctl::step::ReportRecord last = Exchange("END ");
    EXPECT_EQ(last.report.phase, protocol::Phase::kEndReceived);
    std::optional<std::vector<uint8_t>> rest = session_->ReadRemaining();
    EXPECT_TRUE(rest && rest->empty()) << "bytes after the END report";
    EXPECT_EQ(session_->Wait(), std::optional<int32_t>(0));
    return last;
  }

  fs::path Linux(const std::string& relative) const { return dir_linux_ / relative; }

  // Windows path of a file in this test's private folder.
  std::string Win(const std::string& relative) const { return dir_ + relative; }

  // Runs the step helper as a program of its own (not as a step); its exit code, -1 on failure.
  int RunHelper(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), (fs::path(mingw_) / "x5step.exe").string());
    return RunWine(arguments).code.value_or(-1);
  }

  // How many of the processes listed in a pid file (Linux path) still run.
  int AliveCount(const fs::path& pid_file) {
    return RunHelper({"alive", dir_ + pid_file.filename().string()});
  }

  std::string mingw_;
  std::string runner_;
  fs::path drive_c_;
  fs::path dir_linux_;
  std::string dir_;   // Windows form, ends in a backslash
  std::string step_;  // Windows path of the step helper
  int32_t job_number_ = 0;
  ctl::text::TaskBlocks blocks_;
  std::unique_ptr<ctl::step::RunnerSession> session_;
  bool strict_ = true;
};

}  // namespace x5::e2e
