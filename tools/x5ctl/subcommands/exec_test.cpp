// exec against a runner that sends hostile texts: every line it prints stays a line, and the JSON
// outcome is always written.
#include "x5ctl/subcommands/exec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace x5::ctl::subcommands {
namespace {

namespace fs = std::filesystem;

// A stand-in runner: sends the status record and a final report whose status text is `status`,
// then waits for its input to close.
fs::path HostileRunner(const fs::path& dir, const std::string& status) {
  const fs::path runner = dir / "runner.sh";
  std::ofstream(runner) << "#!/bin/sh\ncat \"$0.out\"\nexec cat >/dev/null\n";
  fs::permissions(runner, fs::perms::owner_all);
  protocol::StatusRecord started;
  started.status_text = "Started ";
  protocol::StepReport report;
  report.status_text = status;
  report.phase = protocol::Phase::kEndReceived;
  report.current_rc = 1;
  const auto status_bytes = protocol::EncodeStatusRecord(started);
  const auto report_bytes = protocol::EncodeStepReport(report);
  std::ofstream out(runner.string() + ".out", std::ios::binary);
  out.write(reinterpret_cast<const char*>(status_bytes.data()), status_bytes.size());
  out.write(reinterpret_cast<const char*>(report_bytes.data()), report_bytes.size());
  return runner;
}

TEST(Exec, HostileRunnerTextsStayOnTheirLinesAndTheOutcomeIsWritten) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("x5ctl_exec_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "task.toml") << "job_name = 'J'\n";
  for (const std::string status : {"STEP\xff   ", "\x1b]0;pw\x07",
                                   "\xc2\x9b"
                                   "31mRC  "}) {
    for (const bool json : {false, true}) {
      ExecOptions options;
      options.task_path = (dir / "task.toml").string();
      options.runner = HostileRunner(dir, status).string();
      options.wine = "";
      options.timeout_seconds = 20;
      options.json_file = json ? (dir / "out.json").string() : "";
      std::ostringstream job_log, errors;
      const int exit_status = RunExec(options, job_log, errors);
      EXPECT_EQ(exit_status, 1) << errors.str();
      for (const char c : errors.str())
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << errors.str();
      EXPECT_EQ(errors.str().find("\xc2\x9b"), std::string::npos) << errors.str();
      if (!json)
        continue;
      std::ifstream lines(dir / "out.json");
      std::string line, last;
      while (std::getline(lines, line))
        last = line;
      EXPECT_EQ(last.find_first_of("\x1b\x07\x7f"), std::string::npos) << last;
      const nlohmann::json outcome = nlohmann::json::parse(last, nullptr, false);
      ASSERT_FALSE(outcome.is_discarded()) << last;
      EXPECT_EQ(outcome["record"], "outcome");
      EXPECT_EQ(outcome["exit_status"], 1);
    }
  }
  fs::remove_all(dir);
}

// A step whose end is unknown (here the runner breaks off after its status record) leaves the RC
// file so that the chain stops going on as if nothing had happened, unless told otherwise.
TEST(Exec, AStepKilledOrBrokenOffLeavesAnAbendRcUnlessToldOtherwise) {
  const fs::path dir =
      fs::path(::testing::TempDir()) / ("x5ctl_killed_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "task.toml") << "job_name = 'J'\nmaximum_rc = 6\n";
  const fs::path runner = dir / "runner.sh";
  std::ofstream(runner) << "#!/bin/sh\nprintf '%016d%s%04d' 0 'Started ' 0 | tr 0 '\\000'\n";
  fs::permissions(runner, fs::perms::owner_all);
  const std::pair<const char*, std::string> rows[] = {
      {"abend", "7\n"}, {"report", "2\n"}, {"9", "9\n"}};
  for (const auto& [choice, left] : rows) {
    std::ofstream(dir / "job.rc") << "2\n";
    ExecOptions options;
    options.task_path = (dir / "task.toml").string();
    options.runner = runner.string();
    options.wine = "";
    options.rc_file = (dir / "job.rc").string();
    options.killed_rc = *host::ParseKilledStepRc(choice);
    std::ostringstream job_log, errors;
    EXPECT_EQ(RunExec(options, job_log, errors), step::kExecBrokeOff) << errors.str();
    std::ostringstream text;
    text << std::ifstream(dir / "job.rc").rdbuf();
    EXPECT_EQ(text.str(), left) << choice << "\n" << errors.str();
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace x5::ctl::subcommands
