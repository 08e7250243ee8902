// The runner's end states, reached through its pipes exactly as a parent reaches them.
#include <cctype>
#include <set>
#include <sstream>

#include "e2e_support.h"

#include <nlohmann/json.hpp>

#include "commands/command_split.h"
#include "x5ctl/check/check.h"
#include "x5ctl/step/exit_status.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::e2e {
namespace {

using MainSequence = RunnerTest;

// Before it answers "Started " a start loads nothing beyond what its import table allows. A
// library loaded on first use is not in that table, so this watches the loads: Wine traces each
// one on the runner's standard error, here the same pipe as its answers, so a load traced before
// "Started " happened before it.
TEST_F(MainSequence, LoadsOnlyKernel32AndTheCRuntimeBeforeStarted) {
  protocol::TaskRecord task = Task(step_ + " exit 0");
  ctl::text::FillBlockLengths(task, blocks_);
  std::vector<std::string> argv{"/bin/sh", "-c", "WINEDEBUG=+pid,+loaddll exec \"$@\" 2>&1", "sh"};
  for (std::string& part : ctl::step::RunnerCommandLine(runner_, ctl::host::DefaultWineCommand()))
    argv.push_back(std::move(part));
  core::Result<std::unique_ptr<ctl::host::ChildProcess>> start = ctl::host::StartChildProcess(argv);
  ASSERT_TRUE(start) << start.failure().text;
  std::unique_ptr<ctl::host::ChildProcess>& child = *start;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const ctl::host::ChildProcess::IoResult sent =
      child->Write(ctl::text::EncodeTaskStream(task, blocks_), deadline);
  ASSERT_TRUE(sent && sent->status == ctl::host::ChildProcess::Io::kOk);
  std::string out;  // read to the end, so that a full pipe never holds the runner up
  uint8_t buf[4096];
  for (;;) {
    const ctl::host::ChildProcess::IoResult got = child->Read(buf, deadline);
    if (!got || got->status != ctl::host::ChildProcess::Io::kOk)
      break;
    out.append(reinterpret_cast<const char*>(buf), got->bytes);
    if (Contains(out, "Started "))
      child->CloseInput();
  }
  (void)child->Wait(deadline);
  const size_t started = out.find("Started ");
  ASSERT_NE(started, std::string::npos) << out;

  // "PID:TID:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\kernel32.dll" at ..."
  std::istringstream before(out.substr(0, started));
  std::string runner_pid;
  std::vector<std::string> loaded;
  for (std::string line; std::getline(before, line);) {
    const size_t at = line.find("trace:loaddll:build_module Loaded L\"");
    const size_t end = at == std::string::npos ? at : line.find('"', at + 36);
    if (end == std::string::npos)
      continue;
    std::string name = line.substr(at + 36, end - at - 36);
    name = name.substr(name.find_last_of('\\') + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string pid = line.substr(0, line.find(':'));
    if (name == "x5runner.exe")
      runner_pid = pid;
    else if (!runner_pid.empty() && pid == runner_pid)
      loaded.push_back(name);
  }
  ASSERT_FALSE(runner_pid.empty()) << "no load trace of the runner:\n" << out.substr(0, started);
  const std::vector<std::string> allowed{"kernelbase.dll", "kernel32.dll", "msvcrt.dll"};
  for (const std::string& name : loaded)
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end())
        << name << " loaded before \"Started \"";
}

// The job log holds every line the step wrote, in order, past what the console holds, a line
// wider than the console as one line; where rows were lost (written faster than they were moved,
// or cleared) it says so at that place.
TEST_F(MainSequence, JobLogHoldsEveryLineInOrderOrSaysWhereRowsWereLost) {
  const auto line = [](int k, int width) {
    std::string text = "output line " + std::to_string(k);
    if (static_cast<int>(text.size()) < width)
      text.append(static_cast<size_t>(width) - text.size(), '.');
    return text + "\r\n";
  };
  struct {
    std::string command;
    int lines, width;
    bool every_line;
    std::string_view lost;
  } cases[] = {
      // Two lines every 10 ms, far beyond the console's rows.
      {"paced 2000 16 2 10", 2000, 16, true, ""},
      {"paced 200 300 1 20", 200, 300, true, ""},  // each line two and a half rows
      // All at once, in one write: rows scroll out before they can be moved.
      {"lines 3000 16", 3000, 16, false, console::kRowsScrolledAwayLine},
  };
  for (const auto& c : cases) {
    Start(Task(step_ + " " + c.command));
    StatUntilFinal(600);
    EndConversation();
    const std::string log = ReadFileText(Linux("console.txt"));
    size_t at = 0;
    int missing = 0;
    for (int k = 1; k <= c.lines; ++k) {
      const size_t found = log.find(line(k, c.width), at);
      if (found == std::string::npos) {
        ++missing;
        continue;
      }
      at = found;
    }
    EXPECT_EQ(missing == 0, c.every_line) << c.command << ": " << missing << " missing";
    EXPECT_TRUE(Contains(log, line(c.lines, c.width))) << c.command;
    if (!c.lost.empty()) {
      const size_t lost = log.find(std::string(c.lost) + "\r\n");
      EXPECT_NE(lost, std::string::npos) << c.command << log.substr(0, 600);
      EXPECT_LT(lost, log.find(line(c.lines, c.width))) << "said where the rows went";
    } else {
      EXPECT_FALSE(Contains(log, "** Rows scrolled")) << c.command;
    }
  }
  // A step that clears its console: what was moved before stays, and the place is marked.
  Start(Task(step_ + " echo before-the-clear sleep 600 cls echo after-the-clear"));
  StatUntilFinal();
  EndConversation();
  const std::string log = ReadFileText(Linux("console.txt"));
  const size_t before = log.find("before-the-clear\r\n");
  const size_t cleared = log.find(std::string(console::kConsoleClearedLine) + "\r\n");
  const size_t after = log.find("after-the-clear\r\n");
  EXPECT_TRUE(before < cleared && cleared < after && after != std::string::npos) << log;
}

// The processes of this test's Wine prefix whose program (the first word of the command line)
// ends in `program`, with an argument `argument` when one is given.
std::set<int> PrefixProcesses(const std::string& program, const std::string& argument = {}) {
  std::set<int> found;
  const std::string prefix = std::string("WINEPREFIX=") + std::getenv("WINEPREFIX");
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::vector<std::string> words;
    std::stringstream command(ReadFileText(entry.path() / "cmdline"));
    for (std::string word; std::getline(command, word, '\0');)
      words.push_back(word);
    const std::string environment = ReadFileText(entry.path() / "environ");
    if (words.empty() || !words[0].ends_with(program) ||
        (!argument.empty() && (words.size() < 2 || words[1] != argument)) ||
        environment.find(prefix + '\0') == std::string::npos)
      continue;
    found.insert(std::stoi(name));
  }
  return found;
}

// A field of /proc/PID/status in KB, summed over the processes.
long StatusKb(const std::set<int>& pids, const std::string& field) {
  long total = 0;
  for (int pid : pids) {
    std::stringstream status(ReadFileText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
      if (line.rfind(field + ":", 0) == 0)
        total += std::stol(line.substr(field.size() + 1));
    }
  }
  return total;
}

// A runner's memory, its console host's with it, does not grow with what the step prints, and
// stays within twice a bare console program's (with its console host: about 25 MB resident, at
// most 9 MB anonymous); a console of 9001 rows made its host alone cost 565 MB. bench/memory.sh
// gives the figures.
TEST_F(MainSequence, ARunnersMemoryStaysBoundedWhateverTheStepPrints) {
  long anonymous[2] = {};
  long resident[2] = {};
  const int printed[2] = {10, 20000};
  for (int run = 0; run < 2; ++run) {
    const std::set<int> hosts_before = PrefixProcesses("conhost.exe", "--server");
    Start(Task(step_ + " lines " + std::to_string(printed[run]) + " 100 sleep 4000"));
    ASSERT_TRUE(WaitUntil([&] {
      return Contains(ReadFileText(Linux("console.txt")),
                      "output line " + std::to_string(printed[run]) + ".");
    }));
    std::set<int> ours = PrefixProcesses("x5runner.exe");
    for (int host : PrefixProcesses("conhost.exe", "--server")) {
      if (!hosts_before.contains(host))
        ours.insert(host);
    }
    EXPECT_EQ(ours.size(), 2u) << "the runner and its console host";
    anonymous[run] = StatusKb(ours, "RssAnon");
    resident[run] = StatusKb(ours, "VmRSS");
    StatUntilFinal();
    EndConversation();
  }
  EXPECT_LT(anonymous[1], anonymous[0] + 4 * 1024) << "grew with the step's output";
  EXPECT_LT(resident[1], 2 * 26 * 1024) << "KB";
  EXPECT_LT(anonymous[1], 2 * 9 * 1024) << "KB";
}

// What the runner adds to the job log of a clean step trips no rule that searches the step's
// output for trouble, and the same step gives the same job log from run to run, times and
// numbers aside.
TEST_F(MainSequence, TheRunnersOwnLinesTripNoRuleAndRepeat) {
  const char* words[] = {"error",  "fail",   "abend",  "warn",          "fatal",   "exception",
                         "denied", "unable", "cannot", "not available", "invalid", "refused"};
  std::vector<std::string> logs;
  for (int run = 0; run < 2; ++run) {
    protocol::TaskRecord t = Task(step_ + " echo \"a clean step\"");
    blocks_.conditions = "+>";
    for (const char* word : words)
      blocks_.conditions += "\r\nR=R8 F=" + Win("console.txt") + " S=\"" + word + "\"";
    Start(t);
    Exchange("STAT");  // an operator command while the step may still run
    const ctl::step::ReportRecord r = StatUntilFinal();
    EXPECT_EQ(r.report.status_text, "STEP OK ");
    EXPECT_EQ(r.report.current_rc, t.task_rc) << r.text;
    EXPECT_EQ(r.text.find("RC=8"), std::string::npos) << r.text;
    EndConversation();
    const std::string log = ReadFileText(Linux("console.txt"));
    EXPECT_TRUE(Contains(log, "a clean step\r\n")) << log;
    // Times, process ids and handles aside: every run of digits counts as one.
    std::string shape;
    for (char c : log) {
      const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
      if (!digit || shape.empty() || shape.back() != '#')
        shape += digit ? '#' : c;
    }
    logs.push_back(shape);
  }
  EXPECT_EQ(logs[0], logs[1]);
}

// Files named as pictures and picture leftovers are, and a picture request.
void PlantSentinels(const fs::path& dir) {
  fs::create_directories(dir);
  for (const char* name : {"#1_1#2_old.JPG", "#1_1#2_old.bmp", "#1_1#2_old.jpg.x5part", "_X5C_"})
    std::ofstream(dir / name, std::ios::binary) << "sentinel " << name;
}

// One row per decision of the main sequence. Each task runs both ways: through the real runner
// and through `x5ctl check` in each of its modes (before, --after, --both), which drives the same
// whole sequence over a world that only reads; all must give the row's final report, so a change
// to one driver alone fails here.
struct Decision {
  const char* name;
  int32_t maximum_rc, task_rc, step_min, step_max;
  const char* command;     // "" for an empty command block; a last line "@" runs the step
                           // helper; "#" too long
  const char* conditions;  // rule lines; %X5S%marker.txt exists
  const char* status_text;
  int32_t current_rc;
  char flag;
  // "#" for the failed launch of the command too long; %S% stands for the step folder.
  const char* report_text;
  const char* console_line;    // in the job log, or ""
  bool check_launches;         // false where only the real launch can fail
  const char* explained = "";  // in what `x5ctl exec --explain` makes of the real stream
  const char* console_file = "console.txt";  // under the test's folder
};

class MainSequenceBothWays : public RunnerTest, public testing::WithParamInterface<Decision> {
 protected:
  std::string Command(const Decision& c) const {
    if (std::string_view(c.command).ends_with("@"))  // a last line "@": the step helper
      return std::string(c.command).substr(0, std::string_view(c.command).size() - 1) + step_ +
             " exit 0";
    if (std::string(c.command) == "#")
      return step_ + " exit 0 " + std::string(commands::kLongestCommandLine, 'x');
    return c.command;
  }
};

// With pictures on, an early end also leaves the runner's current directory, the job base
// directory and the job folder alone: no old picture, leftover or request outside the step folder
// is deleted.
TEST_P(MainSequenceBothWays, RunnerAndCheckGiveTheRowsFinalReport) {
  const Decision& c = GetParam();
  const std::string command = Command(c);
  std::string report_text = c.report_text;
  if (report_text == "#")
    report_text = "\r\n***** Error - Command  \"" + command + "\"  STEP=?   RC=206 *****\r\n\r\n";
  if (const size_t at = report_text.find("%S%"); at != std::string::npos)
    report_text.replace(at, 3, Win("JOB\\S01\\"));
  std::ofstream(Linux("JOB/S01/marker.txt")) << "present";
  const fs::path task_file = Linux("task.toml");
  std::string head = TaskFileHead();
  head.replace(head.find(Win("console.txt")), Win("console.txt").size(), Win(c.console_file));
  std::ofstream(task_file) << head << "picture_interval = 200\nmaximum_rc = " << c.maximum_rc
                           << "\ntask_rc = " << c.task_rc << "\nstep_minimum_rc = " << c.step_min
                           << "\nstep_maximum_rc = " << c.step_max
                           << "\ncommand = " << ctl::text::TomlString(command)
                           << "\nconditions = '''\n"
                           << c.conditions << "'''\n";
  const core::Result<ctl::text::TaskFile> parsed = ctl::text::LoadTaskFile(task_file.string());
  ASSERT_TRUE(parsed) << parsed.failure().text;

  // A step that ran ends "STEP OK ", or "FILE ?  " when its job log could not be saved.
  const bool runs =
      std::string(c.status_text) == "STEP OK " || std::string(c.status_text) == "FILE ?  ";
  const std::vector<fs::path> outside{Linux("cwd"), dir_linux_, Linux("JOB")};
  std::vector<std::map<std::string, std::string>> before;
  // The last run's job log: an end before the console is opened leaves it as it is.
  WriteText(Linux("console.txt"), "the earlier job log\r\n");
  for (const fs::path& dir : outside) {
    PlantSentinels(dir);
    before.push_back(Snapshot(dir));
  }
  blocks_ = parsed->blocks;
  Start(parsed->task, outside[0]);
  ctl::step::ReportRecord r = runs ? StatUntilFinal() : Exchange("STAT");
  EXPECT_EQ(r.report.status_text, c.status_text);
  EXPECT_EQ(r.report.phase, protocol::Phase::kWaitingForEnd);
  EXPECT_EQ(r.report.current_rc, c.current_rc);
  EXPECT_EQ(r.report.result_flag, c.flag);
  EXPECT_EQ(r.text, report_text);
  EXPECT_EQ(r.report.report_text_length, static_cast<int32_t>(r.text.size()));
  EXPECT_TRUE(!runs || (r.report.start_time > 0 && r.report.end_time >= r.report.start_time));
  EXPECT_EQ(EndConversation().text, report_text);
  const std::string console = ReadFileText(Linux("console.txt"));
  EXPECT_TRUE(Contains(console, c.console_line));
  ctl::step::ExplainContext context;
  context.job_log = console;
  context.conditions = blocks_.conditions;
  const std::string explained =
      ctl::step::ExplainStep(ctl::text::DecodeRunnerStream(session_->Received()), context);
  EXPECT_TRUE(Contains(explained, c.explained)) << explained;
  for (size_t i = 0; i < outside.size(); ++i) {
    auto after = Snapshot(outside[i]);
    if (c.maximum_rc != 0) {
      // The file the task names, saved from the console opened.
      after.erase("console.txt");
      before[i].erase("console.txt");
    }
    EXPECT_EQ(after, before[i]) << outside[i];
  }

  if (!c.check_launches)
    return;
  using Sections = ctl::check::CheckOptions::Sections;
  for (const Sections sections : {Sections::kBefore, Sections::kAfter, Sections::kBoth}) {
    SCOPED_TRACE(sections == Sections::kBefore  ? "check"
                 : sections == Sections::kAfter ? "check --after"
                                                : "check --both");
    ctl::check::CheckOptions options;
    options.task_path = task_file.string();
    options.drives = {"C=" + drive_c_.string()};
    options.sections = sections;
    options.json = true;
    std::ostringstream out;
    std::ostringstream errors;
    // The check exits with the status exec exits with for the runner's final report.
    EXPECT_EQ(ctl::check::RunCheck(options, out, errors),
              ctl::step::OutcomeOfFinalReport(r.report).status)
        << errors.str();
    std::istringstream lines(out.str());
    nlohmann::json outcome;
    std::string checked_text;
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json record = nlohmann::json::parse(line);
      if (record["record"] == "outcome")
        outcome = record;
      else if (record["record"] == "report_text")
        checked_text = record["text"];
    }
    ASSERT_TRUE(outcome.is_object()) << out.str();
    EXPECT_EQ(protocol::Padded(outcome["status_text"].get<std::string>(), 8), c.status_text);
    EXPECT_EQ(outcome["current_rc"], c.current_rc);
    EXPECT_EQ(outcome["result_flag"], std::string(1, c.flag));
    EXPECT_EQ(checked_text, ctl::text::Utf8FromAnsi(report_text));
    // The entry point other tools call predicts the same.
    const core::Result<ctl::check::PredictedStep> predicted =
        ctl::check::CheckTask(*parsed, options);
    ASSERT_TRUE(predicted) << predicted.failure().text;
    EXPECT_EQ(protocol::Padded(predicted->status_text, 8) + std::to_string(predicted->current_rc) +
                  predicted->result_flag + " " + std::to_string(predicted->exit_status),
              c.status_text + std::to_string(c.current_rc) + c.flag + " " +
                  std::to_string(ctl::step::OutcomeOfFinalReport(r.report).status));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows,
    MainSequenceBothWays,
    testing::Values(
        Decision{"MaxRcZeroInAbendMode", 0, 3, 1, 4, "@", "", "RC = 0  ", 3, '-',
                 "***** WARNING - ABEND MODE, Task RC= 3 *****\r\n\r\n"
                 "** ERROR - Maximum Return Code = 0 **",
                 "", true},
        Decision{"NullCommandRaisesOneToTwo", 4, 1, 1, 4, "", "", "Null CMD", 2, '+', "",
                 "***** No command to execute - current RC=1 new RC=2 *****\r\n\r\n", true},
        Decision{"Skipped", 4, 3, 1, 2, "@", "", "RC <>   ", 3, '+',
                 "***** Task Step NOT executed *****, Step RC=3  / Step Min=1 Max=2  / Max RC=4"
                 "\r\n",
                 "", true},
        Decision{"EndedBeforeTheStep", 4, 1, 1, 4, "@", "R=R0 F=%X5S%marker.txt\n", "RC <>   ", 0,
                 '-',
                 "-1 RC=0     File \"%S%marker.txt\" have requested attributes\r\n\r\n"
                 "***** Task ENDED as requested *****, Step RC=0  / Max RC=4\r\n",
                 "", true, "Rule line 1 (before the step, R=R0 F=%X5S%marker.txt) set RC 0"},
        // Refused whole, never run cut.
        Decision{"CommandTooLong", 4, 1, 1, 4, "#", "", "STEP=?  ", 99, '+', "#",
                 "** The command line is ", true},
        Decision{"CommandNotFound", 4, 1, 1, 4, "C:\\windows\\nosuch.exe", "", "STEP=?  ", 99, '+',
                 "\r\n***** Error - Command  \"C:\\windows\\nosuch.exe\"  STEP=?   RC=2 *****"
                 "\r\n\r\n",
                 "", false},
        Decision{"Runs", 4, 1, 1, 4, "@", "", "STEP OK ", 1, '+', "", "Processes 1\r\n", true,
                 "The step ran and its process ended"},
        Decision{"AbendModeRaisesTheFinalRc", 4, 5, 1, 9, "@", "", "STEP OK ", 5, '+',
                 "***** WARNING - ABEND MODE, Task RC= 5 *****\r\n\r\n", "", true},
        Decision{"AbendsAfterTheStep", 4, 1, 1, 4, "@", "+>\nR=R8 F=%X5S%marker.txt\n", "STEP OK ",
                 8, '-',
                 "+2 RC=8     File \"%S%marker.txt\" have requested attributes\r\n\r\n"
                 "***** Task Step ABENDED *****, Step RC=8  / Max RC=4\r\n",
                 "", true,
                 "Rule line 2 (after the step, R=R8 F=%X5S%marker.txt) set RC 8: it found "},
        Decision{"RuleBeforeSetsTheRc", 4, 1, 1, 4, "@", "R=R3 F=%X5S%marker.txt\n", "STEP OK ", 3,
                 '+', "-1 RC=3     File \"%S%marker.txt\" have requested attributes\r\n", "", true,
                 "succeeded with the RC that rule line 1 set"},
        Decision{"AbendedBeforeTheStep", 4, 1, 1, 4, "@", "R=R8 F=%X5S%marker.txt\n", "RC <>   ", 8,
                 '-',
                 "-1 RC=8     File \"%S%marker.txt\" have requested attributes\r\n\r\n"
                 "***** Task Step ABENDED *****, Step RC=8  / Max RC=4\r\n",
                 "", true, "found step RC 8 (set by rule line 1) above the maximum RC 4"},
        // A replace on a file that is not there fails: the step RC value goes above the range.
        Decision{"FailedSwitchAbendsBeforeTheStep", 4, 1, 1, 4, "/X5R a b %X5S%nosuch.txt\r\n@", "",
                 "RC <>   ", 5, '-', "\r\n***** Task Step ABENDED *****, Step RC=5  / Max RC=4\r\n",
                 "", true, "No rule set it, so a switch that failed raised it"},
        Decision{"ConsoleFileCannotBeWritten", 4, 1, 1, 4, "@", "", "FILE ?  ", 1, '+', "", "",
                 true, "could not write its console file", "nosuch\\console.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace x5::e2e
