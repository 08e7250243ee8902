// Whole-file reading and atomic file replacement with POSIX calls (native builds and tests).
#include "commands/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "core/fault.h"

namespace x5::commands {
namespace {

constexpr size_t kPiece = 1 << 20;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }
  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  int Close() noexcept {
    const int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

bool IsMissing(int error) {
  return error == ENOENT || error == ENOTDIR;
}

class PosixFileAccess final : public FileAccess {
 public:
  ReadOutcome ReadWhole(std::string_view path, int64_t max_bytes, std::string& into) override {
    into.clear();
    try {
      const std::string name(path);
      FileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
      if (!file) {
        const int error = errno;
        return {IsMissing(error) ? ReadOutcome::State::kMissing : ReadOutcome::State::kCheckFailed,
                0, error};
      }
      struct stat status {};
      if (::fstat(file.get(), &status) != 0) {
        return {ReadOutcome::State::kCheckFailed, 0, errno};
      }
      if (!S_ISREG(status.st_mode)) {
        return {ReadOutcome::State::kMissing, 0, ENOENT};
      }
      if (status.st_size > max_bytes) {
        return {ReadOutcome::State::kTooLarge, static_cast<int64_t>(status.st_size), 0};
      }
      into.reserve(static_cast<size_t>(status.st_size));
      std::vector<char> piece(kPiece);
      for (;;) {
        const ssize_t read = ::read(file.get(), piece.data(), piece.size());
        if (read < 0) {
          if (errno == EINTR) {
            continue;
          }
          const int error = errno;
          into.clear();
          return {ReadOutcome::State::kReadFailed, 0, error};
        }
        if (read == 0) {
          break;
        }
        if (static_cast<int64_t>(into.size()) + read > max_bytes) {
          const int64_t seen = static_cast<int64_t>(into.size()) + read;
          into.clear();
          return {ReadOutcome::State::kTooLarge,
                  std::max<int64_t>(seen, static_cast<int64_t>(status.st_size)), 0};
        }
        into.append(piece.data(), static_cast<size_t>(read));
      }
      return {ReadOutcome::State::kRead, static_cast<int64_t>(into.size()), 0};
    } catch (...) {
      core::UnexpectedFault("ReadWhole");
      into.clear();
      return {ReadOutcome::State::kReadFailed, 0, ENOMEM};
    }
  }

  WriteOutcome WriteAtomically(std::string_view path, std::string_view content) override {
    try {
      const std::string target(path);
      std::string temporary = target + ".XXXXXX";
      FileDescriptor file(::mkstemp(temporary.data()));
      if (!file) {
        return {WriteOutcome::State::kWriteFailed, errno};
      }
      struct stat old {};
      mode_t mode = 0;
      if (::stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
      } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
      }
      size_t done = 0;
      int error = 0;
      while (error == 0 && done < content.size()) {
        const ssize_t written =
            ::write(file.get(), content.data() + done, std::min(content.size() - done, kPiece));
        if (written < 0) {
          if (errno != EINTR) {
            error = errno;
          }
          continue;
        }
        done += static_cast<size_t>(written);
      }
      if (error == 0 && (::fchmod(file.get(), mode) != 0 || ::fsync(file.get()) != 0)) {
        error = errno;
      }
      if (file.Close() != 0 && error == 0) {
        error = errno;
      }
      if (error != 0) {
        ::unlink(temporary.c_str());
        return {WriteOutcome::State::kWriteFailed, error};
      }
      if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        return {WriteOutcome::State::kReplaceFailed, error};
      }
      return {WriteOutcome::State::kWritten, 0};
    } catch (...) {
      core::UnexpectedFault("WriteAtomically");
      return {WriteOutcome::State::kWriteFailed, ENOMEM};
    }
  }

  std::string ErrorText(int32_t error) override {
    try {
      return std::generic_category().message(error);
    } catch (...) {
      core::UnexpectedFault("ErrorText");
      return {};
    }
  }
};

}  // namespace

std::unique_ptr<FileAccess> MakeSystemFileAccess() {
  return std::make_unique<PosixFileAccess>();
}

}  // namespace x5::commands
