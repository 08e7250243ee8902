// What x5ctl's POSIX host files share: a descriptor's owner, a failure in errno's words, and the
// reading of a descriptor up to a size.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "core/result.h"

namespace x5::ctl::host {

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

// `what`, then errno's words; the failure carries errno.
inline core::Failure SystemFailure(const std::string& what) {
  const int code = errno;
  return core::Failure{what + ": " + std::strerror(code), static_cast<uint32_t>(code)};
}

// Up to `size` bytes from the descriptor's position, fewer where the file ends first; a failed
// read is `what` in errno's words.
inline core::Result<std::string> ReadUpTo(int fd, size_t size, const std::string& what) {
  std::string bytes(size, '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return SystemFailure(what);
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace x5::ctl::host
