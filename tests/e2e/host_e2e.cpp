// A Linux host made ready by `x5ctl setup-host`: a new prefix on a display of its own, in which
// `x5ctl exec` then runs a step; and what exec says when the prefix or the display is missing.
#include <signal.h>

#include <regex>

#include "e2e_support.h"

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
  const bool has_xvfb = std::regex_search(said, started,
                                          std::regex("started Xvfb on display (:[0-9]+) \\(process "
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
  EXPECT_EQ(setup.out, "WINEPREFIX=" + prefix.string() + "\nDISPLAY=" + display + "\n");
  EXPECT_TRUE(fs::is_regular_file(prefix / "system.reg"));

  // The settings are in the prefix's registry (as reg.exe there reads them).
  auto query = [&](const std::string& key, const std::string& value) {
    return RunProgram({"env", "WINEPREFIX=" + prefix.string(), "DISPLAY=" + display, "wine", "reg",
                       "query", key, "/v", value})
        .out;
  };
  EXPECT_TRUE(Contains(query("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog"), "0x0"));
  EXPECT_TRUE(Contains(query("HKCU\\Console", "ScreenBufferSize"), "0x23290078"));
  EXPECT_TRUE(Contains(query("HKCU\\Software\\Wine\\X11 Driver", "Managed"), "N"));
  EXPECT_EQ(RunProgram({"env", "WINEPREFIX=" + prefix.string(), "DISPLAY=" + display, "wine", "reg",
                        "query", "HKLM\\Software\\Halvex"})
                .code,
            std::optional<int32_t>(0));

  // A second run keeps the prefix and the display it is given.
  Ran again = RunProgram(
      {"env", "DISPLAY=" + display, Tool().string(), "setup-host", "--prefix", prefix.string()});
  EXPECT_EQ(again.code, std::optional<int32_t>(0));
  EXPECT_EQ(again.out, setup.out);

  const fs::path task = WriteTask(prefix);
  Ran ran = RunProgram({"env", "WINEPREFIX=" + prefix.string(), "DISPLAY=" + display,
                        Tool().string(), "exec", "--runner", runner_, task.string()},
                       std::chrono::seconds(120));
  EXPECT_EQ(ran.code, std::optional<int32_t>(0)) << ran.out;
  EXPECT_TRUE(Contains(ran.out, "Hello from a host made ready by setup-host")) << ran.out;
}

}  // namespace
}  // namespace x5::e2e
