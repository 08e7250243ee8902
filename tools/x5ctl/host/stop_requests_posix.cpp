// Stop requests on Linux: signals, noted through self-pipes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "x5ctl/host/stop_requests.h"

namespace x5::ctl::host {
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

  core::Result<void> Install() {
    int event[2];
    int hard[2];
    if (pipe2(event, O_CLOEXEC | O_NONBLOCK) != 0)
      return core::Failure{"cannot create a pipe for signals", static_cast<uint32_t>(errno)};
    event_read_ = event[0];
    event_write_ = event[1];
    if (pipe2(hard, O_CLOEXEC | O_NONBLOCK) != 0)
      return core::Failure{"cannot create a pipe for signals", static_cast<uint32_t>(errno)};
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
    return {};
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

  bool Requested() const override { return g_stops >= 2; }
  int WakeDescriptor() const override { return hard_read_; }

  Noted Now() const override {
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

}  // namespace

core::Result<std::unique_ptr<StopRequests>> WatchStopRequests() {
  auto requests = std::make_unique<SignalStopRequests>();
  if (core::Result<void> installed = requests->Install(); !installed)
    return std::move(installed).failure();
  return std::unique_ptr<StopRequests>(std::move(requests));
}

}  // namespace x5::ctl::host
