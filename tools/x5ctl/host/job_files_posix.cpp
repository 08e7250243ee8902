// A job's files on POSIX systems: a write by rename (the RC file's too), reads with O_NOFOLLOW.
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

namespace x5::ctl::host {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

mode_t DefaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

core::Result<void> ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  // The new file keeps the old one's permissions and group (mkstemp makes it private), so that the
  // other users of the job can still read it; never its set-id bits, and never those of whatever a
  // link would have led to.
  struct stat old {};
  mode_t mode = DefaultMode();
  std::optional<gid_t> group;
  if (lstat(path.c_str(), &old) == 0) {
    if (!S_ISREG(old.st_mode))
      return core::Failure{path.string() +
                               " is not a regular file (a link, a folder, a FIFO or a device); it "
                               "is not replaced",
                           EINVAL};
    mode = old.st_mode & 0777;
    group = old.st_gid;
  } else if (errno != ENOENT) {
    return SystemFailure(path.string() + ": cannot look at it");
  }
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  // mkostemp creates with O_EXCL: never through a link planted under its name.
  Descriptor file(mkostemp(temp.data(), O_CLOEXEC));
  if (file.get() < 0)
    return SystemFailure(temp + ": cannot make a temporary file beside " + path.string());
  core::Result<void> written = [&]() -> core::Result<void> {
    // The group only where this user may give it; the permissions stand either way.
    if (group)
      (void)!fchown(file.get(), static_cast<uid_t>(-1), *group);
    if (fchmod(file.get(), mode) != 0)
      return SystemFailure(temp + ": cannot set its permissions");
    if (!WriteAll(file.get(), bytes) || fsync(file.get()) != 0 || !file.Close())
      return SystemFailure(temp + ": cannot write it");
    if (rename(temp.c_str(), path.c_str()) != 0)
      return SystemFailure(path.string() + ": cannot replace it");
    return {};
  }();
  if (!written) {
    unlink(temp.c_str());
    return written;
  }
  // The rename itself on disk, so that a machine that fails now does not bring the old bytes back.
  Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0)
    (void)!fsync(dir.get());  // some file systems refuse fsync on a folder; the rename stands
  return {};
}

core::Result<std::optional<std::string>> ReadRegularFile(const std::filesystem::path& path,
                                                         size_t limit) {
  // O_NONBLOCK: a pipe planted under the name must not hang the reader before it is refused.
  Descriptor file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT)
      return std::optional<std::string>();
    if (errno == ELOOP)
      return core::Failure{path.string() + " is a link; it is not read"};
    return SystemFailure(path.string() + ": cannot open it");
  }
  struct stat facts {};
  if (fstat(file.get(), &facts) != 0)
    return SystemFailure(path.string() + ": cannot read it");
  // A file with other names (hard links) may be anybody's: it is not taken for the job's.
  if (!S_ISREG(facts.st_mode) || facts.st_nlink != 1)
    return core::Failure{path.string() +
                         " is not a regular file with one name (a folder, a FIFO, a device or a "
                         "hard link); it is not read"};
  if (static_cast<uintmax_t>(facts.st_size) > limit)
    return core::Failure{path.string() + ": larger than " + std::to_string(limit) + " bytes"};
  core::Result<std::string> bytes =
      ReadUpTo(file.get(), static_cast<size_t>(facts.st_size), path.string() + ": cannot read it");
  if (!bytes)
    return bytes.failure();
  return std::optional<std::string>(std::move(*bytes));
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0)
    return "?";
  return name;
}

int64_t ProcessId() {
  return getpid();
}

}  // namespace x5::ctl::host
