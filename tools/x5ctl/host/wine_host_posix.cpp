// The Linux half of the Wine host: the environment and files a runner under Wine would meet, a
// virtual display that outlives x5ctl, and programs run to their end.
#include "x5ctl/host/wine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "x5ctl/step/session.h"

extern char** environ;

namespace x5::ctl::host {
namespace {

namespace fs = std::filesystem;

// The display number of a display of this machine (":N", ":N.S", "unix:N"), or -1.
int LocalDisplayNumber(const std::string& display) {
  std::string_view rest(display);
  if (rest.starts_with("unix:"))
    rest.remove_prefix(4);
  if (!rest.starts_with(":"))
    return -1;
  rest.remove_prefix(1);
  int number = 0;
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && number < 100000)
    number = number * 10 + (rest[digits++] - '0');
  if (digits == 0 || (digits < rest.size() && rest[digits] != '.'))
    return -1;
  return number;
}

}  // namespace

bool DisplayAnswers(const std::string& display) {
  const int number = LocalDisplayNumber(display);
  if (number < 0)
    return false;
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  const bool answers =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answers;
}

WineHostFacts ReadWineHostFacts(std::string_view wine_command) {
  WineHostFacts facts;
  const WineCommandParts parts = SplitWineCommand(wine_command);
  const std::string base = fs::path(parts.program).filename().string();
  // A wrapper of the user's own may set up its display and prefix itself.
  facts.uses_wine = base.starts_with("wine");
  if (!facts.uses_wine)
    return facts;
  facts.wine_program = parts.program;
  facts.wine_found = !ProgramOnPath(parts.program).empty();
  facts.display = EnvOr("DISPLAY");
  std::string prefix = EnvOr("WINEPREFIX");
  for (const auto& [name, value] : parts.settings) {
    if (name == "DISPLAY")
      facts.display = value;
    else if (name == "WINEPREFIX")
      prefix = value;
  }
  facts.prefix_named = !prefix.empty();
  facts.prefix = facts.prefix_named ? prefix : EnvOr("HOME", "/root") + "/.wine";
  facts.display_local = LocalDisplayNumber(facts.display) >= 0;
  facts.display_answers = facts.display_local && DisplayAnswers(facts.display);
  std::error_code ec;
  facts.prefix_exists = fs::is_directory(facts.prefix, ec);
  facts.prefix_built = fs::is_regular_file(fs::path(facts.prefix) / "system.reg", ec);
  return facts;
}

core::Result<StartedDisplay> StartVirtualDisplay() {
  const std::string xvfb = ProgramOnPath("Xvfb");
  if (xvfb.empty())
    return core::Failure{
        "Xvfb is not installed (not found on PATH): install the xvfb package, or name "
        "a display with --display"};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return core::Failure{"cannot create a pipe for Xvfb", static_cast<uint32_t>(errno)};
  // Xvfb writes the display it chose to this descriptor, and finds a free one itself.
  const std::string fd_text = std::to_string(fds[1]);
  const char* args[] = {xvfb.c_str(),   "-displayfd", fd_text.c_str(), "-screen", "0",
                        "1280x1024x24", "-nolisten",  "tcp",           nullptr};
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    close(fds[0]);
    close(fds[1]);
    return core::Failure{"cannot start Xvfb", static_cast<uint32_t>(error)};
  }
  if (pid == 0) {
    // A session of its own: the display outlives x5ctl and the terminal it ran in.
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    fcntl(fds[1], F_SETFD, 0);  // the one descriptor Xvfb keeps
    execve(args[0], const_cast<char* const*>(args), environ);
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (number.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd poll_fd{fds[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0)
      break;
    char buffer[32];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0)
      break;
    number.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' '))
    number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return core::Failure{"Xvfb did not start (it named no display within 10 seconds)"};
  }
  return StartedDisplay{":" + number, static_cast<long>(pid)};
}

void SetEnvironment(const std::string& name, const std::string& value, bool replace) {
  setenv(name.c_str(), value.c_str(), replace ? 1 : 0);
}

core::Result<int> RunToEnd(const std::vector<std::string>& argv) {
  core::Result<std::unique_ptr<ChildProcess>> started = StartChildProcess(argv);
  if (!started)
    return std::move(started).failure();
  std::unique_ptr<ChildProcess>& child = *started;
  child->CloseInput();
  // Wine's first start of a prefix takes about half a minute; a loaded machine, more.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  uint8_t buffer[4096];
  while (child->Read(buffer, deadline).status == ChildProcess::Io::kOk) {
  }
  const std::optional<int32_t> code = child->Wait(deadline);
  if (!code) {
    child->Kill();
    return core::Failure{argv[0] + " did not end within 5 minutes"};
  }
  return static_cast<int>(*code);
}

}  // namespace x5::ctl::host
