// The RC file on POSIX systems: an fcntl lock on "<file>.lock" and a write by rename.
//
// fcntl locks, not flock(): on NFS, Linux emulates flock() with fcntl locks anyway, and these reach
// the server's lock manager, so steps on different machines see each other's lock. Open file
// description locks where the kernel has them (Linux 3.15), so that no other close of the file in
// this process can drop the lock; classic process locks elsewhere.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "x5ctl/host/rc_file.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::host {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0)
      close(fd_);
  }
  int get() const { return fd_; }
  [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
  // Closes now and says whether the close succeeded (NFS reports late write errors here).
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

core::Failure SystemFailure(const std::string& what) {
  const int code = errno;
  return core::Failure{what + ": " + std::strerror(code), static_cast<uint32_t>(code)};
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Try the whole-file write lock; 0 taken, else the errno.
int TryLock(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0)
    return 0;
  if (errno != EINVAL)
    return errno;
#endif
  return fcntl(fd, F_SETLK, &lock) == 0 ? 0 : errno;
}

std::string HolderText(int fd) {
  char buffer[512];
  const ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  if (n <= 0)
    return {};
  std::string text(buffer, static_cast<size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text::VisibleText(text);
}

class PosixRcFile final : public RcFile {
 public:
  PosixRcFile(std::filesystem::path path, int lock_fd) : RcFile(std::move(path)), lock_(lock_fd) {}

  core::Result<void> Write(int32_t rc) override {
    const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
    std::string temp = (folder / ("." + path_.filename().string() + ".XXXXXX")).string();
    Descriptor file(mkstemp(temp.data()));
    if (file.get() < 0)
      return SystemFailure(temp + ": cannot make the RC file's temporary file");
    // The new file keeps the old one's permissions (mkstemp makes it private), so that the other
    // steps of the job, perhaps under another user, can still read it.
    struct stat old {};
    const mode_t mode = stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : DefaultMode();
    core::Result<void> written = [&]() -> core::Result<void> {
      if (fchmod(file.get(), mode) != 0)
        return SystemFailure(temp + ": cannot set its permissions");
      if (!WriteAll(file.get(), RcFileText(rc)) || fsync(file.get()) != 0 || !file.Close())
        return SystemFailure(temp + ": cannot write the new RC");
      if (rename(temp.c_str(), path_.c_str()) != 0)
        return SystemFailure(path_.string() + ": cannot replace the RC file");
      return {};
    }();
    if (!written) {
      unlink(temp.c_str());
      return written;
    }
    // The rename itself on disk, so that a machine that fails now does not bring the old RC back.
    Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
      fsync(dir.get());  // some file systems refuse fsync on a folder; the rename stands
    return {};
  }

 private:
  static mode_t DefaultMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
  }

  Descriptor lock_;
};

}  // namespace

core::Result<std::unique_ptr<RcFile>> LockRcFile(const std::filesystem::path& path,
                                                 std::string_view what) {
  const std::filesystem::path lock_path = RcLockPath(path);
  Descriptor lock(open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (lock.get() < 0)
    return SystemFailure(lock_path.string() + ": cannot open the RC file's lock");
  if (const int code = TryLock(lock.get()); code != 0) {
    if (code == EAGAIN || code == EACCES) {
      const std::string who = HolderText(lock.get());
      return core::Failure{path.string() + ": another step of this job holds the RC file" +
                               (who.empty() ? std::string() : " (" + who + ")") +
                               "; steps of one job run one after the other",
                           static_cast<uint32_t>(code)};
    }
    errno = code;
    return SystemFailure(lock_path.string() +
                         ": cannot lock the RC file (on NFS: mounted without locks, or no lock "
                         "manager running?)");
  }
  // Who holds it, for a step refused meanwhile; a failure here only loses that note.
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  const std::string holder = RcHolderNote(getpid(), host, what);
  if (ftruncate(lock.get(), 0) == 0) {
    (void)!pwrite(lock.get(), holder.data(), holder.size(), 0);
  }
  return std::unique_ptr<RcFile>(std::make_unique<PosixRcFile>(path, lock.Release()));
}

}  // namespace x5::ctl::host
