// A Linux host made ready by `x5ctl setup-host`: a new prefix on a display of its own, in which
// `x5ctl exec` then runs a step; and what exec says when the prefix or the display is missing.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "e2e_support.h"
#include "x5ctl/host/wine_host.h"

namespace x5::e2e {
namespace {

class Host : public RunnerTest {
 protected:
  fs::path Tool() const { return fs::path(ctl::host::ExecutableDirectory()) / "x5ctl"; }

  // A step with its job folder under C:\x5host of `prefix`.
  fs::path WriteTask(const fs::path& prefix) {
    fs::create_directories(prefix / "drive_c" / "x5host" / "JOB" / "S01");
    const fs::path task = Linux("host.toml");
    WriteText(task,
              "job_name = 'JOB'\njob_base_directory = 'C:\\x5host\\'\nstep_directory = 'S01'\n"
              "console_file = 'C:\\x5host\\console.txt'\n"
              "command = 'cmd /c echo Hello from a host made ready by setup-host'\n");
    return task;
  }
};

TEST_F(Host, ExecNamesTheMissingDisplayAndPrefix) {
  const fs::path task = WriteTask(Linux("unused"));
  const std::string absent = Linux("absent").string();
  Ran ran = RunProgram({"sh", "-c", "exec 2>&1; exec \"$@\"", "sh", "env", "-u", "DISPLAY",
                        "WINEPREFIX=" + absent, Tool().string(), "exec", "--runner", runner_,
                        task.string()});
  EXPECT_EQ(ran.code, std::optional<int32_t>(123)) << ran.out;
  EXPECT_TRUE(Contains(ran.out,
                       "no display for the runner's console: DISPLAY is not set; no Wine "
                       "prefix: WINEPREFIX=" +
                           absent + " does not exist"))
      << ran.out;
  EXPECT_TRUE(Contains(ran.out, "`x5ctl setup-host` prepares")) << ran.out;
  EXPECT_FALSE(fs::exists(absent)) << "the runner was started and built a prefix";
}

// Without a display, setup-host starts one (named with its process id), builds the prefix with
// the runner's settings and prints the two lines; exec with those lines runs a step there.
TEST_F(Host, SetupHostMakesAPrefixAndDisplayThatExecRuns) {
  const fs::path prefix = Linux("host-prefix");
  Ran setup = RunProgram(
      {"sh", "-c", "exec 2>\"$0\"; exec \"$@\"", Linux("setup.err").string(), "env", "-u",
       "DISPLAY", "-u", "WINEPREFIX", Tool().string(), "setup-host", "--prefix", prefix.string()},
      std::chrono::seconds(280));
  const std::string said = ReadFileText(Linux("setup.err"));
  std::smatch started;
  const bool has_xvfb = std::regex_search(
      said, started,
      std::regex("started Xvfb on display (:[0-9]+) for this user alone \\(process "
                 "([0-9]+)\\); it runs until stopped: kill "));
  // The display is the host's from now on; this test stops it, and the prefix's server, itself.
  struct Cleanup {
    std::string prefix;
    long xvfb = 0;
    ~Cleanup() {
      (void)std::system(("WINEPREFIX='" + prefix + "' wineserver -k 2>/dev/null").c_str());
      if (xvfb > 0)
        kill(static_cast<pid_t>(xvfb), SIGTERM);
    }
  } cleanup{prefix.string(), has_xvfb ? std::stol(started[2].str()) : 0};
  ASSERT_TRUE(has_xvfb) << said;
  ASSERT_EQ(setup.code, std::optional<int32_t>(0)) << said;
  const std::string display = started[1].str();
  const std::string authority = (prefix / "xauthority").string();
  // Quoted, so a shell that sources them takes them as values only.
  EXPECT_EQ(setup.out, "WINEPREFIX='" + prefix.string() + "'\nDISPLAY='" + display +
                           "'\nXAUTHORITY='" + authority + "'\n");
  EXPECT_TRUE(fs::is_regular_file(prefix / "system.reg"));
  // The display lets in only the holder of its cookie: without XAUTHORITY exec is refused.
  // The server's own reason is named beside the remedy.
  EXPECT_TRUE(std::regex_search(
      ctl::host::DisplayProblem(display),
      std::regex("does not let this user in \\(\"[A-Za-z][^^\"]*\"\\) \\(set XAUTHORITY")))
      << ctl::host::DisplayProblem(display);
  setenv("XAUTHORITY", authority.c_str(), 1);
  EXPECT_EQ(ctl::host::DisplayProblem(display), "");
  unsetenv("XAUTHORITY");

  // The settings are in the prefix's registry (as reg.exe there reads them).
  const std::vector<std::string> env = {"env", "WINEPREFIX=" + prefix.string(),
                                        "DISPLAY=" + display, "XAUTHORITY=" + authority};
  auto with_env = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin(), env.begin(), env.end());
    return argv;
  };
  auto query = [&](const std::string& key, const std::string& value) {
    return RunProgram(with_env({"wine", "reg", "query", key, "/v", value})).out;
  };
  EXPECT_TRUE(Contains(query("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog"), "0x0"));
  EXPECT_TRUE(Contains(query("HKCU\\Console", "ScreenBufferSize"), "0x1e0078"));
  EXPECT_TRUE(Contains(query("HKCU\\Software\\Wine\\X11 Driver", "Managed"), "N"));
  EXPECT_EQ(RunProgram(with_env({"wine", "reg", "query", "HKLM\\Software\\Halvex"})).code,
            std::optional<int32_t>(0));

  // A second run keeps the prefix and the display it is given.
  Ran again = RunProgram(with_env({Tool().string(), "setup-host", "--prefix", prefix.string()}));
  EXPECT_EQ(again.code, std::optional<int32_t>(0));
  EXPECT_EQ(again.out, setup.out);

  const fs::path task = WriteTask(prefix);
  Ran ran = RunProgram(with_env({Tool().string(), "exec", "--runner", runner_, task.string()}),
                       std::chrono::seconds(120));
  EXPECT_EQ(ran.code, std::optional<int32_t>(0)) << ran.out;
  EXPECT_TRUE(Contains(ran.out, "Hello from a host made ready by setup-host")) << ran.out;
}

// setup-host writes nothing into a prefix of another user's, whose links could lead anywhere,
// nor a prefix or display that its lines could not carry as values.
TEST_F(Host, SetupHostRefusesPrefixesItCannotTrustOrPrint) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to lay out another user's prefix";
  const fs::path theirs = Linux("theirs");
  fs::create_directories(theirs / "drive_c" / "windows");
  WriteText(Linux("victim"), "root's own\n");
  fs::create_symlink(Linux("victim"), theirs / "setup-host.log");
  fs::create_symlink(Linux("victim-dir"), theirs / "drive_c" / "windows" / "temp");
  WriteText(theirs / "system.reg", "");
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(theirs))
    (void)lchown(entry.path().c_str(), 65534, 65534);
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  struct Row {
    std::vector<std::string> arguments;
    const char* said;
  };
  const Row rows[] = {
      {{"--prefix", theirs.string()}, "is not owned by this user"},
      {{"--prefix", Linux("x';id>F;'").string()}, "cannot be printed in a line to source"},
      {{"--prefix", Linux("p").string(), "--display", ":0.;id"}, "is not a display name"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> argv = {
        "sh", "-c", "exec 2>&1; exec \"$@\"", "sh", Tool().string(), "setup-host"};
    argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
    const Ran ran = RunProgram(argv);
    EXPECT_EQ(ran.code, std::optional<int32_t>(1)) << ran.out;
    EXPECT_TRUE(Contains(ran.out, row.said)) << ran.out;
  }
  EXPECT_EQ(ReadFileText(Linux("victim")), "root's own\n");
  EXPECT_FALSE(fs::exists(Linux("victim-dir")));

  // A display another user started, perhaps under the number of one that has ended, could watch
  // and type into the steps' windows: exec does not use it.
  const std::string display = ":" + std::to_string(5000 + getpid() % 1000);
  const Ran started = RunProgram({"sh", "-c",
                                  "setpriv --reuid=65534 --regid=65534 --clear-groups Xvfb \"$0\" "
                                  "-nolisten tcp >/dev/null 2>&1 & echo $!",
                                  display});
  struct Stop {
    long pid;
    ~Stop() { kill(static_cast<pid_t>(pid), SIGTERM); }
  } stop{std::atol(started.out.c_str())};
  ASSERT_TRUE(WaitUntil([&] { return ctl::host::DisplayAnswers(display); })) << display;
  EXPECT_TRUE(Contains(ctl::host::DisplayProblem(display), "belongs to another user"));
}

}  // namespace
}  // namespace x5::e2e
