// `x5ctl exec` on Linux: signals as stop requests (through self-pipes), and the job log reached
// through the Wine prefix.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "x5ctl/subcommands/exec.h"
#include "x5ctl/text/ansi_text.h"

namespace x5 {
namespace {

// What the signal handlers note; a handler runs with all of these signals blocked, so the counts
// never race with each other.
volatile sig_atomic_t g_stops = 0;
volatile sig_atomic_t g_first_stop = 0;
volatile sig_atomic_t g_holds = 0;
volatile sig_atomic_t g_resumes = 0;
timespec g_first_stop_time{};
int g_event_pipe = -1;  // write end: something was noted
int g_hard_pipe = -1;   // write end: a second stop request, never drained

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

void Poke(int fd) {
  if (fd >= 0) {
    const char byte = 1;
    (void)!write(fd, &byte, 1);
  }
}

// A repeat within a second is the same request: timeout(1), for one, signals its command and then
// the command's process group, so the command may get the signal twice.
void OnStop(int sig) {
  const int saved = errno;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (g_stops == 0) {
    g_first_stop = sig;
    g_first_stop_time = now;
    g_stops = 1;
    Poke(g_event_pipe);
  } else if (now.tv_sec - g_first_stop_time.tv_sec > 1 ||
             (now.tv_sec - g_first_stop_time.tv_sec == 1 &&
              now.tv_nsec >= g_first_stop_time.tv_nsec)) {
    g_stops = 2;
    Poke(g_hard_pipe);
  }
  errno = saved;
}

void OnHold(int) {
  const int saved = errno;
  g_holds = g_holds + 1;
  Poke(g_event_pipe);
  errno = saved;
}

void OnResume(int) {
  const int saved = errno;
  g_resumes = g_resumes + 1;
  Poke(g_event_pipe);
  errno = saved;
}

class SignalStopRequests final : public StopRequests {
 public:
  SignalStopRequests() = default;
  SignalStopRequests(const SignalStopRequests&) = delete;
  SignalStopRequests& operator=(const SignalStopRequests&) = delete;

  bool Install(std::string& error) {
    int event[2];
    int hard[2];
    if (pipe2(event, O_CLOEXEC | O_NONBLOCK) != 0) {
      error = "cannot create a pipe for signals";
      return false;
    }
    event_read_ = event[0];
    event_write_ = event[1];
    if (pipe2(hard, O_CLOEXEC | O_NONBLOCK) != 0) {
      error = "cannot create a pipe for signals";
      return false;
    }
    hard_read_ = hard[0];
    hard_write_ = hard[1];
    g_stops = 0;
    g_first_stop = 0;
    g_holds = 0;
    g_resumes = 0;
    g_event_pipe = event_write_;
    g_hard_pipe = hard_write_;

    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGTSTP, SIGCONT})
      sigaddset(&action.sa_mask, sig);
    action.sa_flags = SA_RESTART;
    for (int sig : kStopSignals)
      Handle(sig, OnStop, action);
    // Handled, SIGTSTP no longer stops x5ctl: the step is held instead, and x5ctl stays able to
    // answer a stop request.
    Handle(SIGTSTP, OnHold, action);
    Handle(SIGCONT, OnResume, action);
    // A scheduler that closes our output must not end us before the step is killed and the
    // handshake is done; writes then fail instead.
    action.sa_handler = SIG_IGN;
    Handle(SIGPIPE, nullptr, action);
    return true;
  }

  ~SignalStopRequests() override {
    for (const Saved& saved : saved_)
      sigaction(saved.sig, &saved.action, nullptr);
    g_event_pipe = g_hard_pipe = -1;
    for (int fd : {event_read_, event_write_, hard_read_, hard_write_}) {
      if (fd >= 0)
        close(fd);
    }
  }

  [[nodiscard]] bool Requested() const override { return g_stops >= 2; }
  [[nodiscard]] int WakeDescriptor() const override { return hard_read_; }

  [[nodiscard]] Noted Now() const override {
    Noted noted;
    noted.stop_signal = g_first_stop;
    noted.holds = g_holds;
    noted.resumes = g_resumes;
    return noted;
  }

  bool WaitFor(std::chrono::milliseconds limit) override {
    pollfd pfds[2] = {{event_read_, POLLIN, 0}, {hard_read_, POLLIN, 0}};
    const int ready = poll(pfds, 2, static_cast<int>(limit.count()));
    if (ready <= 0)
      return ready < 0 && errno == EINTR;
    char drain[64];
    while (read(event_read_, drain, sizeof drain) > 0) {
    }
    return true;
  }

 private:
  struct Saved {
    int sig;
    struct sigaction action;
  };

  // A signal that x5ctl inherits as ignored stays ignored, as shells expect of their commands
  // (nohup ignores SIGHUP, a non-interactive shell's "&" ignores SIGINT).
  void Handle(int sig, void (*handler)(int), struct sigaction action) {
    Saved saved{sig, {}};
    if (sigaction(sig, nullptr, &saved.action) != 0)
      return;
    if (handler != nullptr) {
      if (saved.action.sa_handler == SIG_IGN && sig != SIGCONT)
        return;
      action.sa_handler = handler;
    }
    if (sigaction(sig, &action, nullptr) == 0)
      saved_.push_back(saved);
  }

  int event_read_ = -1;
  int event_write_ = -1;
  int hard_read_ = -1;
  int hard_write_ = -1;
  std::vector<Saved> saved_;
};

std::filesystem::path WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0')
    return prefix;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".wine";
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// `name` inside `folder`, or the entry whose name differs only in case.
std::filesystem::path Entry(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  std::filesystem::path exact = folder / name;
  if (std::filesystem::exists(exact, ec))
    return exact;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (SameLetters(it->path().filename().string(), name))
      return it->path();
  }
  return exact;
}

}  // namespace

std::unique_ptr<StopRequests> WatchStopRequests(std::string& error) {
  try {
    auto requests = std::make_unique<SignalStopRequests>();
    if (!requests->Install(error))
      return nullptr;
    return requests;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return nullptr;
  }
}

std::filesystem::path LocalPathOf(const std::string& windows_path, std::string_view wine_command) {
  if (wine_command.find_first_not_of(" \t") == std::string_view::npos)
    return windows_path;
  std::string rest = windows_path;
  std::filesystem::path at;
  if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
    const std::filesystem::path prefix = WinePrefix();
    at = prefix / "dosdevices" / (std::string(1, drive) + ":");
    std::error_code ec;
    if (drive == 'c' && !std::filesystem::exists(at, ec))
      at = prefix / "drive_c";
    rest.erase(0, 2);
  } else if (rest.starts_with("\\\\")) {
    return {};  // a share the runner reaches and x5ctl does not
  } else {
    at = ".";  // relative: the runner started in x5ctl's own folder
  }
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find_first_of("\\/", start);
    if (end == std::string::npos)
      end = rest.size();
    const std::string part = rest.substr(start, end - start);
    if (part == "..")
      at = at.parent_path();
    else if (!part.empty() && part != ".")
      at = Entry(at, part);
    start = end + 1;
  }
  return at;
}

std::string PrintableJobLog(std::string_view bytes) {
  std::string lines;
  lines.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
      continue;
    lines += bytes[i];
  }
  return Utf8FromAnsi(lines);
}

}  // namespace x5
