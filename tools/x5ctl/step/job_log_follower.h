// The job log printed while the step runs: the lines the runner moves into the console file, read
// as they arrive.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core/result.h"

namespace x5::ctl::step {

// What a file looked like at one moment, so that a file the runner did not write in this run (it
// was killed first, say) is not taken for this run's job log.
struct FileStamp {
  bool exists = false;
  std::filesystem::file_time_type written{};
  uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::filesystem::path& path);

// Follows the console file from the moment it differs from `before` (the runner empties it when
// it opens its console and then moves rows into it as they appear), and hands every complete line
// to `print`, in order, each byte once. A thread of its own: the conversation blocks on the
// runner's answers meanwhile.
class JobLogFollower {
 public:
  using Print = std::function<void(std::string_view lines)>;
  JobLogFollower(std::filesystem::path path, FileStamp before, Print print);
  JobLogFollower(const JobLogFollower&) = delete;
  JobLogFollower& operator=(const JobLogFollower&) = delete;
  ~JobLogFollower();

  // Stops following and hands over the rest of the file, a last line without a line end too.
  // Fails when the runner did not write the file in this run.
  core::Result<void> Finish();

 private:
  void Loop();
  // Reads what is new; with `all`, also a last line that has no line end yet.
  void ReadNew(bool all);

  std::filesystem::path path_;
  FileStamp before_;
  Print print_;
  bool seen_ = false;  // the file is this run's
  uintmax_t offset_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace x5::ctl::step
