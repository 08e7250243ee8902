// POSIX rule files: stat for the facts, pread for chunks, flock for the exclusive mode.
#include "conditions/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <utility>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/fault.h"

namespace x5::conditions {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

core::Failure ReadFailure(int error) {
  return core::Failure{"the file cannot be read", static_cast<uint32_t>(error)};
}

class PosixFileReader final : public ChunkReader {
 public:
  explicit PosixFileReader(Descriptor&& fd) noexcept : fd_(std::move(fd)) {}

  core::Result<int64_t> Size() const override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
      return ReadFailure(errno);
    return static_cast<int64_t>(st.st_size);
  }

  core::Result<int64_t> ReadAt(int64_t offset, std::span<uint8_t> into) override {
    constexpr size_t kMaxCall = size_t{1} << 30;
    for (;;) {
      const ssize_t got =
          ::pread(fd_.get(), into.data(), into.size() < kMaxCall ? into.size() : kMaxCall,
                  static_cast<off_t>(offset));
      if (got >= 0)
        return int64_t{got};
      if (errno != EINTR)
        return ReadFailure(errno);
    }
  }

 private:
  Descriptor fd_;
};

class PosixRuleFiles final : public SystemRuleFiles {
 public:
  std::optional<FileFacts> Find(std::string_view name) override {
    if (!NamesOneFile(name))
      return std::nullopt;
    struct stat st {};
    if (::stat(std::string(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return std::nullopt;
    FileFacts facts;
    facts.size = static_cast<int64_t>(st.st_size);
    facts.read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return facts;
  }
};

}  // namespace

core::Result<std::unique_ptr<ChunkReader>> OpenFileReader(std::string_view path,
                                                          bool exclusive) noexcept {
  if (path.find('\0') != std::string_view::npos)
    return core::Failure{"cannot open", ENOENT};
  try {
    Descriptor fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || (exclusive && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0))
      return core::Failure{"cannot open", static_cast<uint32_t>(errno)};
    return std::unique_ptr<ChunkReader>(std::make_unique<PosixFileReader>(std::move(fd)));
  } catch (...) {
    core::UnexpectedFault("OpenFileReader");
    return core::Failure{"cannot open", ENOMEM};
  }
}

std::unique_ptr<RuleFiles> MakeSystemRuleFiles() {
  return std::make_unique<PosixRuleFiles>();
}

}  // namespace x5::conditions
