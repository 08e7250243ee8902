// Paces file checks: counts the bytes they read and, every few chunks, answers operator commands
// that are waiting on the input pipe without blocking the check.
#pragma once

#include <array>
#include <cstdint>

#include "conditions/condition_file.h"
#include "core/result.h"
#include "protocol/protocol.h"

namespace x5::runner {

// The pacer's view of the parent's pipe and of the runner's reporting.
class CommandLink {
 public:
  virtual ~CommandLink() = default;
  // Looks at up to 8 waiting bytes without removing them: the number of bytes waiting (copying
  // what fits into `into`); fails with the system's error code when the peek fails.
  virtual core::Result<int64_t> Peek(std::array<uint8_t, protocol::kOperatorCommandSize>& into) = 0;
  // Reads one whole command; false when the pipe failed or ended.
  virtual bool ReadCommand(protocol::OperatorCommand& command) = 0;
  // Sends a step report with report text length 0 and the last wait result as status code.
  virtual void SendReport() = 0;
  // A PRTY that arrives before the launch becomes the priority the step is launched with.
  virtual void StorePriority(int32_t priority) = 0;
};

class FileCheckPacer : public conditions::Pacer {
 public:
  // `kilobytes_read`, `io_count` and `chunks` are the runner's counters (the I/O count is
  // fixed-point, x10000). They belong to the run: the look interval counts on across the checks
  // before and after the step.
  FileCheckPacer(CommandLink& link,
                 int32_t check_interval,
                 int32_t& kilobytes_read,
                 int64_t& io_count,
                 int64_t& chunks)
      : link_(link),
        check_interval_(check_interval > 0 ? check_interval : 1),
        kilobytes_read_(kilobytes_read),
        io_count_(io_count),
        chunks_(chunks) {}

  bool Poll(int64_t chunk_bytes) override;

  // What a look at the pipe did: nothing (no whole command waiting, or the pipe failed), answered
  // a command (its report is still to be sent), or took a KILL.
  enum class Look { kNothing, kAnswered, kKilled };
  Look LookForCommand();

  // Whether a KILL stopped a check: nothing more of the step is then carried out.
  bool Killed() const noexcept { return killed_; }

 private:
  CommandLink& link_;
  int32_t check_interval_;
  int32_t& kilobytes_read_;
  int64_t& io_count_;
  int64_t& chunks_;
  bool killed_ = false;
};

}  // namespace x5::runner
