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
#include <optional>
#include <string>
#include <utility>

#include "x5ctl/host/descriptor_posix.h"
#include "x5ctl/host/job_files.h"
#include "x5ctl/host/rc_file.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::host {
namespace {

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

constexpr const char* kNotRegular = " is not a regular file (a folder, a FIFO or a device)";

// A descriptor of `path` that is a regular file with one name, opened without following a link
// and without waiting on a FIFO; the failure names what is there instead.
core::Result<int> OpenPlainFile(const std::string& path, int flags, mode_t mode, bool& created) {
  constexpr int kSafe = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  created = false;
  int fd = -1;
  if ((flags & O_CREAT) != 0) {
    fd = open(path.c_str(), (flags | O_EXCL | kSafe), mode);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
      fd = open(path.c_str(), (flags & ~O_CREAT) | kSafe);
  } else {
    fd = open(path.c_str(), flags | kSafe);
  }
  if (fd < 0) {
    if (errno == ELOOP)
      return core::Failure{path + " is a symbolic link; it is not followed", ELOOP};
    if (errno == EISDIR)
      return core::Failure{path + kNotRegular, EISDIR};
    return SystemFailure(path);
  }
  Descriptor file(fd);
  struct stat st {};
  if (fstat(file.get(), &st) != 0)
    return SystemFailure(path);
  if (!S_ISREG(st.st_mode))
    return core::Failure{path + kNotRegular, EINVAL};
  if (st.st_nlink != 1)
    return core::Failure{path + " has other names (hard links); it is not used", EMLINK};
  if (fcntl(file.get(), F_SETFL, fcntl(file.get(), F_GETFL) & ~O_NONBLOCK) != 0)
    return SystemFailure(path);
  return file.Release();
}

class PosixRcFile final : public RcFile {
 public:
  PosixRcFile(std::filesystem::path path, int lock_fd) : RcFile(std::move(path)), lock_(lock_fd) {}
  // The holder's note goes before the lock does, so that no note outlives its holder's lock.
  ~PosixRcFile() override { (void)!ftruncate(lock_.get(), 0); }

  core::Result<std::optional<int32_t>> Read() const override {
    bool created = false;
    core::Result<int> opened = OpenPlainFile(path_.string(), O_RDONLY, 0, created);
    if (!opened) {
      if (opened.failure().system_code == ENOENT)
        return std::optional<int32_t>();
      return opened.failure().Within("cannot read the RC file: ");
    }
    Descriptor file(*opened);
    const core::Result<std::string> text =
        ReadUpTo(file.get(), kRcFileMaxBytes + 1, path_.string() + ": cannot read the RC file");
    if (!text)
      return text.failure();
    return RcFromText(path_, *text);
  }

  core::Result<void> Write(int32_t rc) override {
    // Written whole and renamed into place, as a job's other files are.
    return ReplaceWholeFile(path_, RcFileText(rc));
  }

 private:
  Descriptor lock_;
};

}  // namespace

core::Result<std::unique_ptr<RcFile>> LockRcFile(const std::filesystem::path& path,
                                                 std::string_view what) {
  const std::filesystem::path lock_path = RcLockPath(path);
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  struct stat folder_stat {};
  if (stat(folder.c_str(), &folder_stat) != 0)
    return SystemFailure(folder.string() + ": cannot look at the RC file's folder");
  // Only the job's users may open the lock: whoever can open a file can lock it, a reader too,
  // and a lock taken by someone outside the job would stop its steps. The group shares it when
  // the folder lets its group write (the job's users), others never.
  const mode_t lock_mode = 0600 | ((folder_stat.st_mode & S_IWGRP) != 0 ? 0060 : 0);
  bool created = false;
  core::Result<int> opened =
      OpenPlainFile(lock_path.string(), O_RDWR | O_CREAT, lock_mode, created);
  if (!opened)
    return opened.failure().Within("cannot open the RC file's lock: ");
  Descriptor lock(*opened);
  struct stat st {};
  if (fstat(lock.get(), &st) != 0)
    return SystemFailure(lock_path.string());
  if (created) {
    // As the docs promise, whatever the umask: the folder's group, where this user may give it.
    (void)!fchown(lock.get(), static_cast<uid_t>(-1), folder_stat.st_gid);
    if (fchmod(lock.get(), lock_mode) != 0)
      return SystemFailure(lock_path.string() + ": cannot set the lock's permissions");
  } else if ((st.st_mode & 0007) != 0) {
    // A lock made before locks were kept from others: its owner closes it to them.
    if (st.st_uid != geteuid() || fchmod(lock.get(), st.st_mode & 0770) != 0)
      return core::Failure{lock_path.string() +
                               ": users outside the job may open the RC file's lock, and so stop "
                               "the job's steps by locking it; its owner can close it to them "
                               "(chmod o= " +
                               lock_path.string() + ") or remove it",
                           EACCES};
  }
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
