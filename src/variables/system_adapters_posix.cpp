// POSIX implementations of the variable routines' adapters (native builds and tests). Paths that
// the runner builds with "\" are taken with "/".
#include "variables/system_adapters.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "core/calendar.h"

namespace x5::variables {
namespace {

std::string PosixPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::tm ToTm(const core::LocalTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_wday = core::DayOfWeek(t.year, t.month, t.day);
  tm.tm_yday = core::DayOfYear(t.year, t.month, t.day) - 1;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  return tm;
}

std::string Strftime(const char* format, const core::LocalTime& t) {
  const std::tm tm = ToTm(t);
  char buffer[256];
  size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

class Fd {
 public:
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int get() const noexcept { return fd_; }
  int Close() noexcept {
    int rc = 0;
    if (fd_ >= 0)
      rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

struct DirCloser {
  void operator()(DIR* d) const noexcept { closedir(d); }
};

// The failed write, with the errno that says why.
core::Failure Failed(int error) {
  return core::Failure{"the parameter file cannot be written", static_cast<uint32_t>(error)};
}

}  // namespace

std::optional<std::string> SystemEnvironment::Get(std::string_view name) const {
  if (name.find('\0') != std::string_view::npos)
    return std::nullopt;
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

core::LocalTime SystemClock::Now() const {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm{};
  localtime_r(&now.tv_sec, &tm);
  core::LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.day_of_week = tm.tm_wday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

std::string SystemDateNames::DayName(const core::LocalTime& t, bool abbreviated) const {
  return Strftime(abbreviated ? "%a" : "%A", t);
}

std::string SystemDateNames::MonthName(const core::LocalTime& t, bool abbreviated) const {
  return Strftime(abbreviated ? "%b" : "%B", t);
}

std::string SystemDateNames::GeneralDateTime(const core::LocalTime& t) const {
  return Strftime("%x %X", t);
}

ParameterListing SystemParameterFiles::List(const std::string& directory, size_t max_names) {
  ParameterListing listing;
  const std::string dir = PosixPath(directory);
  std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
  if (!d)
    return listing;
  while (const dirent* entry = readdir(d.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() <= kGlobalParameterSuffix.size() || !name.ends_with(kGlobalParameterSuffix))
      continue;
    struct stat st {};
    if (lstat((dir + std::string(name)).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    listing.names.emplace_back(name);
  }
  // readdir's order is arbitrary; a fixed order makes runs repeatable.
  std::sort(listing.names.begin(), listing.names.end());
  if (listing.names.size() > max_names) {
    listing.left_out = listing.names.size() - max_names;
    listing.names.resize(max_names);
  }
  return listing;
}

std::optional<std::string> SystemParameterFiles::ReadFirstLine(const std::string& path) {
  Fd fd(::open(PosixPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0)
    return std::nullopt;
  return ReadFirstLineWith([&](std::span<char> into) -> std::optional<size_t> {
    for (;;) {
      const ssize_t got = ::read(fd.get(), into.data(), into.size());
      if (got >= 0)
        return static_cast<size_t>(got);
      if (errno != EINTR)
        return std::nullopt;
    }
  });
}

core::Result<void> SystemParameterFiles::WriteAtomically(const std::string& path,
                                                         std::string_view content,
                                                         std::string& refusal) {
  refusal.clear();
  const std::string target = PosixPath(path);
  const size_t slash = target.rfind('/');
  std::string temp =
      (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".x5tmpXXXXXX";
  Fd fd(mkstemp(temp.data()));
  if (fd.get() < 0)
    return Failed(errno);
  auto fail = [&](int error) {
    fd.Close();
    ::unlink(temp.c_str());
    return Failed(error);
  };
  // mkstemp makes the file private to its owner; a parameter file is as readable as any other.
  if (::fchmod(fd.get(), 0644) != 0)
    return fail(errno);
  size_t done = 0;
  while (done < content.size()) {
    ssize_t put = ::write(fd.get(), content.data() + done, content.size() - done);
    if (put < 0) {
      if (errno == EINTR)
        continue;
      return fail(errno);
    }
    done += static_cast<size_t>(put);
  }
  if (::fsync(fd.get()) != 0)
    return fail(errno);
  if (fd.Close() != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    return Failed(error);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    return Failed(error);
  }
  return {};
}

}  // namespace x5::variables
