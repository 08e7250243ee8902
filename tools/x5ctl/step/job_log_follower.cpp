// The job log printed while the step runs: the lines the runner moves into the console file, read
// as they arrive.
#include "x5ctl/step/job_log_follower.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

namespace x5::ctl::step {
namespace {

// Often enough that a line is printed within about a second of the runner moving it.
constexpr std::chrono::milliseconds kLookInterval{250};
// One read at most this much, so a long job log is never held whole.
constexpr size_t kLargestRead = 1 << 20;

}  // namespace

FileStamp StampOf(const std::filesystem::path& path) {
  std::error_code ec;
  FileStamp stamp;
  stamp.exists = std::filesystem::is_regular_file(path, ec);
  if (!stamp.exists)
    return stamp;
  stamp.written = std::filesystem::last_write_time(path, ec);
  stamp.size = std::filesystem::file_size(path, ec);
  return stamp;
}

JobLogFollower::JobLogFollower(std::filesystem::path path, FileStamp before, Print print)
    : path_(std::move(path)), before_(before), print_(std::move(print)) {
  thread_ = std::thread([this] { Loop(); });
}

JobLogFollower::~JobLogFollower() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

void JobLogFollower::Loop() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!wake_.wait_for(hold, kLookInterval, [this] { return stop_; })) {
    hold.unlock();
    ReadNew(false);
    hold.lock();
  }
}

void JobLogFollower::ReadNew(bool all) {
  if (!seen_) {
    const FileStamp now = StampOf(path_);
    if (!now.exists || now == before_)
      return;
    seen_ = true;
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in)
    return;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  // Shorter than what was printed: the runner took back the unfinished row it had written at a
  // save, and writes it again; what was printed stands.
  if (size < 0 || static_cast<uintmax_t>(size) <= offset_)
    return;
  std::vector<char> bytes;
  for (;;) {
    const size_t wanted = static_cast<size_t>(
        std::min<uintmax_t>(static_cast<uintmax_t>(size) - offset_, kLargestRead));
    if (wanted == 0)
      return;
    bytes.resize(wanted);
    in.seekg(static_cast<std::streamoff>(offset_));
    in.read(bytes.data(), static_cast<std::streamsize>(wanted));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0)
      return;
    std::string_view chunk(bytes.data(), got);
    size_t end = chunk.rfind('\n');
    if (end == std::string_view::npos) {
      // A line longer than one read is handed over in pieces; an unfinished one waits.
      if (!all && got < kLargestRead)
        return;
      end = got - 1;
    }
    print_(chunk.substr(0, end + 1));
    offset_ += end + 1;
    in.clear();
  }
}

core::Result<void> JobLogFollower::Finish() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
  ReadNew(true);
  if (!seen_)
    return core::Failure{"the runner did not write the job log " + path_.string() + " in this run"};
  return {};
}

}  // namespace x5::ctl::step
