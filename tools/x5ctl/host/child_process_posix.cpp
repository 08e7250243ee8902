// Starting the runner on Linux (normally through wine) with pipes, and deadline-bound pipe I/O.
#include "x5ctl/host/child_process.h"
#include "x5ctl/host/wine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <new>
#include <thread>
#include <utility>

extern char** environ;

namespace x5::ctl::host {
namespace {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other)
      Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0)
      close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A failed system call of a pipe's read or write, with how far it got.
core::Failure IoFailure(const std::string& what, size_t moved) {
  const int code = errno;
  return core::Failure{
      what + " failed after " + std::to_string(moved) + " bytes: " + std::strerror(code),
      static_cast<uint32_t>(code)};
}

// Milliseconds left until the deadline for poll(): -1 without limit, at least 0.
int PollTimeout(Deadline deadline) {
  if (deadline == Deadline::max())
    return -1;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0)
    return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// A write to a pipe whose reader has gone raises SIGPIPE, which would end the whole caller (a
// test binary, say). Blocks it for the write and swallows the one the write raised.
class SigpipeShield {
 public:
  SigpipeShield() {
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_mask_);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  SigpipeShield(const SigpipeShield&) = delete;
  SigpipeShield& operator=(const SigpipeShield&) = delete;
  ~SigpipeShield() {
    if (raised_ && !was_pending_) {
      timespec zero{};
      while (sigtimedwait(&pipe_set_, nullptr, &zero) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
  }
  void Raised() { raised_ = true; }

 private:
  sigset_t pipe_set_;
  sigset_t old_mask_;
  bool was_pending_ = false;
  bool raised_ = false;
};

int32_t ExitCodeOf(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

class PosixChild final : public ChildProcess {
 public:
  PosixChild(pid_t pid, UniqueFd input, UniqueFd output)
      : pid_(pid), input_(std::move(input)), output_(std::move(output)) {}

  ~PosixChild() override {
    // Never leave a zombie behind: the owner has waited or killed already when it could.
    if (!exit_code_) {
      Kill();
      Wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    }
  }

  IoResult Read(std::span<uint8_t> into, Deadline deadline) override {
    if (output_.get() < 0)
      return Moved{Io::kEndOfPipe, 0};
    if (into.empty())
      return Moved{};
    for (;;) {
      int ready = WaitFor(output_.get(), POLLIN, deadline);
      if (ready == kWaitInterrupted)
        return Moved{Io::kInterrupted, 0};
      if (ready < 0)
        return IoFailure("waiting for the runner's output", 0);
      if (ready == 0)
        return Moved{Io::kTimedOut, 0};
      ssize_t n = read(output_.get(), into.data(), into.size());
      if (n > 0)
        return Moved{Io::kOk, static_cast<size_t>(n)};
      if (n == 0)
        return Moved{Io::kEndOfPipe, 0};
      if (errno != EINTR && errno != EAGAIN)
        return IoFailure("reading the runner's output", 0);
    }
  }

  IoResult Write(std::span<const uint8_t> bytes, Deadline deadline) override {
    if (input_.get() < 0)
      return Moved{Io::kEndOfPipe, 0};
    SigpipeShield shield;
    size_t put = 0;
    while (put < bytes.size()) {
      if (Interrupted())
        return Moved{Io::kInterrupted, put};
      ssize_t n = write(input_.get(), bytes.data() + put, bytes.size() - put);
      if (n > 0) {
        put += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EPIPE) {
        shield.Raised();
        return Moved{Io::kEndOfPipe, put};
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR)
        return IoFailure("writing to the runner", put);
      // The pipe is full: wait until the runner has read some of it.
      int ready = WaitFor(input_.get(), POLLOUT, deadline);
      if (ready == kWaitInterrupted)
        return Moved{Io::kInterrupted, put};
      if (ready == 0)
        return Moved{Io::kTimedOut, put};
      if (ready < 0)
        return IoFailure("waiting to write to the runner", put);
    }
    return Moved{Io::kOk, put};
  }

  void CloseInput() override { input_.Reset(); }

  std::optional<int32_t> Wait(Deadline deadline) override {
    if (exit_code_)
      return exit_code_;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
      int status = 0;
      pid_t done = waitpid(pid_, &status, deadline == Deadline::max() ? 0 : WNOHANG);
      if (done == pid_) {
        exit_code_ = ExitCodeOf(status);
        return exit_code_;
      }
      if (done < 0 && errno != EINTR) {
        exit_code_ = -1;  // not our child any more; nothing left to wait for
        return exit_code_;
      }
      if (done == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
          return std::nullopt;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
      }
    }
  }

  void Kill() override {
    if (exit_code_)
      return;
    // The runner's own children (the step, started by wine in the same process group) go too.
    if (kill(-pid_, SIGKILL) != 0)
      kill(pid_, SIGKILL);
  }

 private:
  static constexpr int kWaitInterrupted = -2;

  // poll() for `events` on `fd` until the deadline, and on the interrupt's descriptor beside it:
  // 1 ready, 0 deadline passed, kWaitInterrupted, -1 failed (errno).
  int WaitFor(int fd, short events, Deadline deadline) const {
    const int wake = interrupt() != nullptr ? interrupt()->WakeDescriptor() : -1;
    for (;;) {
      if (Interrupted())
        return kWaitInterrupted;
      pollfd pfds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
      int timeout = PollTimeout(deadline);
      // Without a descriptor to wake on, look at the interrupt at least every 50 ms.
      if (interrupt() != nullptr && wake < 0 && (timeout < 0 || timeout > 50))
        timeout = 50;
      int ready = poll(pfds, wake >= 0 ? 2 : 1, timeout);
      if (ready < 0 && errno != EINTR)
        return -1;
      if (ready > 0 && pfds[0].revents != 0)
        return 1;
      if (ready == 0 && std::chrono::steady_clock::now() >= deadline)
        return 0;
    }
  }

  pid_t pid_;
  UniqueFd input_;   // our end of the child's standard input
  UniqueFd output_;  // our end of the child's standard output
  std::optional<int32_t> exit_code_;
};

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

core::Failure PipeFailure() {
  const int code = errno;
  return core::Failure{std::string("cannot create pipes: ") + std::strerror(code),
                       static_cast<uint32_t>(code)};
}

// A pipe whose ends are close-on-exec and above the standard descriptors, so that dup2 onto 0 and
// 1 in the child never meets an end that already sits there.
core::Result<Pipe> MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return PipeFailure();
  UniqueFd ends[2] = {UniqueFd(fds[0]), UniqueFd(fds[1])};
  for (UniqueFd& end : ends) {
    if (end.get() <= 2) {
      int moved = fcntl(end.get(), F_DUPFD_CLOEXEC, 3);
      if (moved < 0)
        return PipeFailure();
      end.Reset(moved);
    }
  }
  return Pipe{std::move(ends[0]), std::move(ends[1])};
}

// The program a bare name stands for, searched on PATH as the shell does; a name with a slash is
// taken as it is. Empty when nothing executable is found.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos)
    return name;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string_view::npos)
      return {};
    dirs.remove_prefix(colon + 1);
  }
}

// What the child does between fork and exec; only async-signal-safe calls, since the caller may
// have other threads. Never returns: on failure it sends errno through `report` and ends.
[[noreturn]] void BecomeChild(pid_t parent,
                              int child_stdin,
                              int child_stdout,
                              int child_stderr,
                              int report,
                              const char* program,
                              char* const* args) {
  // A process group of its own, so that Kill() reaches what the runner starts and a terminal's
  // Ctrl+C or Ctrl+Z reaches only us; and death with the parent, so that a hard kill of the
  // parent does not leave the runner (and through its job, the step) running.
  setpgid(0, 0);
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
    int code = errno != 0 ? errno : ESRCH;
    (void)!write(report, &code, sizeof code);
    _exit(127);
  }
  if (dup2(child_stdin, 0) < 0 || dup2(child_stdout, 1) < 0 ||
      (child_stderr >= 0 && dup2(child_stderr, 2) < 0)) {
    int code = errno;
    (void)!write(report, &code, sizeof code);
    _exit(127);
  }
  // Default dispositions and an empty mask whatever the caller had (exec keeps ignored signals).
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < 32; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP)
      sigaction(sig, &default_action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(program, args, environ);
  int code = errno;
  (void)!write(report, &code, sizeof code);
  _exit(127);
}

// The descriptor the child's standard error goes to; -1 passes ours through.
core::Result<UniqueFd> ErrorsDescriptor(const ChildErrors& errors) {
  switch (errors.kind) {
    case ChildErrors::Kind::kInherit:
      return UniqueFd();
    case ChildErrors::Kind::kDiscard: {
      UniqueFd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
      if (null.get() < 0)
        return core::Failure{std::string("/dev/null: ") + std::strerror(errno),
                             static_cast<uint32_t>(errno)};
      return null;
    }
    case ChildErrors::Kind::kAppendTo:
      break;
  }
  UniqueFd log(open(errors.log.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (log.get() < 0) {
    const int code = errno;
    return core::Failure{errors.log + (code == ELOOP ? ": is a symbolic link; it is not followed"
                                                     : ": " + std::string(std::strerror(code))),
                         static_cast<uint32_t>(code)};
  }
  struct stat st {};
  if (fstat(log.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != geteuid())
    return core::Failure{errors.log +
                             ": not a regular file of this user's with one name; Wine's "
                             "messages are not written to it",
                         EINVAL};
  return log;
}

}  // namespace

core::Result<std::unique_ptr<ChildProcess>> StartProgram(const std::vector<std::string>& argv,
                                                         const ChildErrors& errors) {
  const std::string program = ResolveProgram(argv[0]);
  if (program.empty())
    return core::Failure{"cannot start " + argv[0] + ": " + std::strerror(ENOENT), ENOENT};
  core::Result<UniqueFd> child_stderr = ErrorsDescriptor(errors);
  if (!child_stderr)
    return std::move(child_stderr).failure();
  core::Result<Pipe> input = MakePipe();
  if (!input)
    return std::move(input).failure();
  core::Result<Pipe> output = MakePipe();
  if (!output)
    return std::move(output).failure();
  core::Result<Pipe> report = MakePipe();
  if (!report)
    return std::move(report).failure();
  UniqueFd& child_stdin = input->read_end;
  UniqueFd& parent_input = input->write_end;
  UniqueFd& parent_output = output->read_end;
  UniqueFd& child_stdout = output->write_end;
  UniqueFd& report_read = report->read_end;
  UniqueFd& report_write = report->write_end;
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    const int fork_error = errno;
    return core::Failure{"cannot start " + argv[0] + ": " + std::strerror(fork_error),
                         static_cast<uint32_t>(fork_error)};
  }
  if (pid == 0) {
    BecomeChild(parent, child_stdin.get(), child_stdout.get(), child_stderr->get(),
                report_write.get(), program.c_str(), args.data());
  }
  // Also from here, so the group exists whichever of the two runs first.
  setpgid(pid, pid);
  child_stdin.Reset();
  child_stdout.Reset();
  child_stderr->Reset();
  report_write.Reset();
  // The report pipe closes without a word when exec succeeded (it is close-on-exec).
  int child_error = 0;
  ssize_t n = 0;
  do {
    n = read(report_read.get(), &child_error, sizeof child_error);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof child_error)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return core::Failure{"cannot start " + argv[0] + ": " + std::strerror(child_error),
                         static_cast<uint32_t>(child_error)};
  }
  // Our write end must not block: a runner that stops reading must not hang the caller.
  int flags = fcntl(parent_input.get(), F_GETFL);
  fcntl(parent_input.get(), F_SETFL, flags | O_NONBLOCK);
  return std::unique_ptr<ChildProcess>(
      std::make_unique<PosixChild>(pid, std::move(parent_input), std::move(parent_output)));
}

std::vector<RunnerCandidate> RunnerCandidates(const std::filesystem::path& own) {
  std::vector<RunnerCandidate> candidates{{own / "x5runner.exe", {}}};
  struct stat own_stat {};
  if (stat(own.c_str(), &own_stat) != 0)
    return candidates;
  // Why a folder or file outside x5ctl's own may not be trusted; "" when it may (or is missing,
  // which the search then says).
  auto changeable = [&](const std::filesystem::path& path) -> std::string {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
      return {};
    if (st.st_uid != 0 && st.st_uid != own_stat.st_uid)
      return path.string() + " belongs to another user";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
      return path.string() + " may be changed by other users";
    return {};
  };
  auto add = [&](const std::filesystem::path& file,
                 std::initializer_list<std::filesystem::path> on_the_way) {
    std::string skipped;
    for (const std::filesystem::path& step : on_the_way) {
      if (skipped.empty())
        skipped = changeable(step);
    }
    candidates.push_back({file, skipped});
  };
  const std::filesystem::path up = own.parent_path();
  const std::filesystem::path package = up / "lib" / "x5runner";
  add(package / "x5runner.exe", {up, up / "lib", package, package / "x5runner.exe"});
  // A build tree: build/release/x5ctl beside build/mingw/x5runner.exe.
  std::error_code ec;
  if (std::filesystem::is_regular_file(own / "CMakeCache.txt", ec))
    add(up / "mingw" / "x5runner.exe", {up, up / "mingw", up / "mingw" / "x5runner.exe"});
  return candidates;
}

std::string ProgramOnPath(const std::string& name) {
  return ResolveProgram(name);
}

std::string DefaultWineCommand() {
  return "wine";
}

std::string ExecutableDirectory() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0)
    return {};
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

}  // namespace x5::ctl::host
