// The Linux half of the Wine host: the environment and files a runner under Wine would meet, a
// virtual display that outlives x5ctl, and programs run to their end.
#include "x5ctl/host/wine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/shown_text.h"
#include "x5ctl/step/session.h"

extern char** environ;

namespace x5::ctl::host {
namespace {

namespace fs = std::filesystem;

// A descriptor connected to the local display `number` as the X library connects (the abstract
// socket first, then the file), or -1.
int ConnectDisplay(int number) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  for (const bool abstract : {true, false}) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t at = abstract ? 1 : 0;
    std::memcpy(address.sun_path + at, path.data(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + at + path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
      return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
      return fd;
    close(fd);
  }
  return -1;
}

// The MIT-MAGIC-COOKIE-1 of display `number` in the X authority file, "" when it has none.
std::string CookieFor(int number) {
  std::string file = EnvOr("XAUTHORITY");
  if (file.empty())
    file = EnvOr("HOME", "/") + "/.Xauthority";
  std::ifstream in(file, std::ios::binary);
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  const std::string display = std::to_string(number);
  auto field = [&](std::string& out) {
    unsigned char length[2];
    if (!in.read(reinterpret_cast<char*>(length), 2))
      return false;
    out.assign(static_cast<size_t>(length[0] << 8 | length[1]), '\0');
    return static_cast<bool>(in.read(out.data(), static_cast<std::streamsize>(out.size())));
  };
  for (;;) {
    unsigned char family[2];
    std::string address, display_number, name, data;
    if (!in.read(reinterpret_cast<char*>(family), 2) || !field(address) || !field(display_number) ||
        !field(name) || !field(data))
      return {};
    const int kind = family[0] << 8 | family[1];
    const bool here = kind == 0xFFFF || (kind == 256 && address == host);
    if (here && (display_number.empty() || display_number == display) &&
        name == "MIT-MAGIC-COOKIE-1")
      return data;
  }
}

// What the server said to the connection set-up of the X protocol with `cookie`, and on a refusal
// the reason it gave.
enum class Admission { kAccepted, kRefused, kNoAnswer };
struct Answer {
  Admission admission = Admission::kNoAnswer;
  std::string reason;
};

// A server busy drawing for many steps may take its time: only a refusal is held against it, so a
// slow answer never stops a step that would have started.
Answer AdmissionWith(int fd, const std::string& cookie) {
  const std::string name = cookie.empty() ? "" : "MIT-MAGIC-COOKIE-1";
  auto padded = [](std::string text) {
    text.resize((text.size() + 3) / 4 * 4, '\0');
    return text;
  };
  std::string request = {'l', 0, 11, 0, 0, 0};
  request += static_cast<char>(name.size() & 0xFF);
  request += static_cast<char>(name.size() >> 8);
  request += static_cast<char>(cookie.size() & 0xFF);
  request += static_cast<char>(cookie.size() >> 8);
  request += std::string(2, '\0') + padded(name) + padded(cookie);
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
    return {};
  pollfd ready{fd, POLLIN, 0};
  unsigned char head[8] = {};
  if (poll(&ready, 1, 5000) != 1 || read(fd, head, 1) != 1)
    return {};
  if (head[0] == 1)
    return {Admission::kAccepted, {}};
  Answer refused{Admission::kRefused, {}};
  // The rest of the failed set-up: the reason's length, versions, then the reason itself.
  if (poll(&ready, 1, 1000) == 1 && read(fd, head + 1, 7) == 7) {
    std::string reason(head[1], '\0');
    if (poll(&ready, 1, 1000) == 1 && read(fd, reason.data(), reason.size()) > 0) {
      reason.resize(std::strlen(reason.c_str()));
      while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back())))
        reason.pop_back();
      refused.reason = core::ShownText(reason);
    }
  }
  return refused;
}

}  // namespace

std::string DisplayProblem(const std::string& display) {
  const std::optional<int> number = LocalDisplayNumber(display);
  if (!number)
    return {};
  const int fd = ConnectDisplay(*number);
  if (fd < 0)
    return "no X server answers on DISPLAY=" + display;
  ucred peer{};
  socklen_t length = sizeof peer;
  std::string problem;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
    problem = "cannot tell whose X server answers on DISPLAY=" + display;
  else if (peer.uid != geteuid() && peer.uid != 0)
    problem = "the X server on DISPLAY=" + display + " belongs to another user (uid " +
              std::to_string(peer.uid) +
              "), who could watch and type into the steps' windows; is it a stand-in for one "
              "that has ended?";
  else if (const Answer answer = AdmissionWith(fd, CookieFor(*number));
           answer.admission == Admission::kRefused)
    problem = "the X server on DISPLAY=" + display + " does not let this user in" +
              (answer.reason.empty() ? "" : " (\"" + answer.reason + "\")") +
              " (set XAUTHORITY to the file setup-host printed)";
  close(fd);
  return problem;
}

bool DisplayAnswers(const std::string& display) {
  const std::optional<int> number = LocalDisplayNumber(display);
  if (!number)
    return false;
  const int fd = ConnectDisplay(*number);
  if (fd < 0)
    return false;
  close(fd);
  return true;
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
  facts.prefix = facts.prefix_named ? prefix : DefaultWinePrefix();
  facts.display_local = LocalDisplayNumber(facts.display).has_value();
  facts.display_answers = facts.display_local && DisplayAnswers(facts.display);
  if (facts.display_answers)
    facts.display_problem = DisplayProblem(facts.display);
  std::error_code ec;
  facts.prefix_exists = fs::is_directory(facts.prefix, ec);
  facts.prefix_built = fs::is_regular_file(fs::path(facts.prefix) / "system.reg", ec);
  return facts;
}

namespace {

// One entry of an X authority file: any address, display `number` ("" for any), the cookie.
std::string AuthorityEntry(const std::string& number, const std::string& cookie) {
  auto field = [](const std::string& text) {
    return std::string{static_cast<char>(text.size() >> 8), static_cast<char>(text.size() & 0xFF)} +
           text;
  };
  return std::string("\xFF\xFF", 2) + field("") + field(number) + field("MIT-MAGIC-COOKIE-1") +
         field(cookie);
}

// Writes `bytes` as the whole file `path`, for this user alone: a new file beside it, renamed over
// it, so no link at `path` is followed and a reader sees the old file or the new one.
core::Result<void> WritePrivateFile(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0)
    return core::Failure{temp + ": " + std::strerror(errno), static_cast<uint32_t>(errno)};
  const bool written =
      write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && fsync(fd) == 0;
  const int code = errno;
  close(fd);
  if (!written || rename(temp.c_str(), path.c_str()) != 0) {
    const int error = written ? errno : code;
    unlink(temp.c_str());
    return core::Failure{path + ": " + std::strerror(error), static_cast<uint32_t>(error)};
  }
  return {};
}

}  // namespace

core::Result<StartedDisplay> StartVirtualDisplay(const std::string& authority) {
  const std::string xvfb = ProgramOnPath("Xvfb");
  if (xvfb.empty())
    return core::Failure{
        "Xvfb is not installed (not found on PATH): install the xvfb package, or name "
        "a display with --display"};
  // A cookie only this user's clients hold: the server reads every entry of the file, a client
  // the one for its display, written as soon as Xvfb has said which display it took.
  std::string cookie(16, '\0');
  if (getrandom(cookie.data(), cookie.size(), 0) != static_cast<ssize_t>(cookie.size()))
    return core::Failure{"cannot make a cookie for the display", static_cast<uint32_t>(errno)};
  if (core::Result<void> written = WritePrivateFile(authority, AuthorityEntry("", cookie));
      !written)
    return written.failure().Within("cannot write the display's authority file ");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return core::Failure{"cannot create a pipe for Xvfb", static_cast<uint32_t>(errno)};
  // Xvfb writes the display it chose to this descriptor, and finds a free one itself.
  const std::string fd_text = std::to_string(fds[1]);
  const char* args[] = {xvfb.c_str(), "-displayfd",      fd_text.c_str(), "-screen",
                        "0",          "1280x1024x24",    "-nolisten",     "tcp",
                        "-auth",      authority.c_str(), nullptr};
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
  if (core::Result<void> written =
          WritePrivateFile(authority, AuthorityEntry(number, cookie) + AuthorityEntry("", cookie));
      !written) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return written.failure().Within("cannot write the display's authority file ");
  }
  return StartedDisplay{":" + number, static_cast<long>(pid)};
}

void SetEnvironment(const std::string& name, const std::string& value, bool replace) {
  setenv(name.c_str(), value.c_str(), replace ? 1 : 0);
}

core::Result<void> ClaimPrefix(const std::string& prefix) {
  std::error_code ec;
  const fs::path path(prefix);
  if (path.has_parent_path())
    fs::create_directories(path.parent_path(), ec);
  if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
    return core::Failure{prefix + ": cannot make the prefix: " + std::strerror(errno),
                         static_cast<uint32_t>(errno)};
  struct stat st {};
  if (stat(prefix.c_str(), &st) != 0)
    return core::Failure{prefix + ": " + std::strerror(errno), static_cast<uint32_t>(errno)};
  if (!S_ISDIR(st.st_mode))
    return core::Failure{prefix + " is not a folder", ENOTDIR};
  if (st.st_uid != geteuid())
    return core::Failure{prefix + " is not owned by this user (its owner is uid " +
                             std::to_string(st.st_uid) +
                             "): Wine refuses such a prefix, and setup-host writes nothing into it",
                         EPERM};
  return {};
}

namespace {

// A descriptor of the folder `folders` inside `prefix`, each reached without following a link and
// made when missing; -1 with errno set on failure.
int OpenFolderInPrefix(const std::string& prefix, const std::vector<std::string>& folders) {
  int at = open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const std::string& folder : folders) {
    if (at < 0)
      return -1;
    if (mkdirat(at, folder.c_str(), 0755) != 0 && errno != EEXIST) {
      const int code = errno;
      close(at);
      errno = code;
      return -1;
    }
    const int next = openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int code = errno;
    close(at);
    errno = code;
    at = next;
  }
  return at;
}

}  // namespace

core::Result<std::string> WriteNewFileInPrefix(const std::string& prefix,
                                               const std::vector<std::string>& folders,
                                               const std::string& stem,
                                               const std::string& extension,
                                               const std::string& bytes) {
  std::string where = prefix;
  for (const std::string& folder : folders)
    where += "/" + folder;
  const int dir = OpenFolderInPrefix(prefix, folders);
  if (dir < 0)
    return core::Failure{
        where + (errno == ELOOP || errno == ENOTDIR ? ": a folder on the way is a link or no folder"
                                                    : ": " + std::string(std::strerror(errno))),
        static_cast<uint32_t>(errno)};
  for (int attempt = 0; attempt < 16; ++attempt) {
    uint32_t random = 0;
    if (getrandom(&random, sizeof random, 0) != sizeof random)
      break;
    const std::string name = stem + "-" + std::to_string(random) + extension;
    const int fd =
        openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST)
      continue;
    if (fd < 0)
      break;
    const bool written =
        write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    const int code = errno;
    close(fd);
    if (!written) {
      unlinkat(dir, name.c_str(), 0);
      close(dir);
      return core::Failure{where + "/" + name + ": " + std::strerror(code),
                           static_cast<uint32_t>(code)};
    }
    close(dir);
    return name;
  }
  const int code = errno;
  close(dir);
  return core::Failure{where + ": cannot make a file there: " + std::strerror(code),
                       static_cast<uint32_t>(code)};
}

void RemoveFileInPrefix(const std::string& prefix,
                        const std::vector<std::string>& folders,
                        const std::string& name) {
  const int dir = OpenFolderInPrefix(prefix, folders);
  if (dir < 0)
    return;
  unlinkat(dir, name.c_str(), 0);
  close(dir);
}

core::Result<int> RunToEnd(const std::vector<std::string>& argv, const ChildErrors& errors) {
  core::Result<std::unique_ptr<ChildProcess>> started = StartChildProcess(argv, errors);
  if (!started)
    return std::move(started).failure();
  std::unique_ptr<ChildProcess>& child = *started;
  child->CloseInput();
  // Wine's first start of a prefix takes about half a minute; a loaded machine, more.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  (void)child->ReadUntilEnd(deadline);  // the output is not wanted, only the end of it
  const std::optional<int32_t> code = child->Wait(deadline);
  if (!code) {
    child->Kill();
    return core::Failure{argv[0] + " did not end within 5 minutes"};
  }
  return static_cast<int>(*code);
}

}  // namespace x5::ctl::host
