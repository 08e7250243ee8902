// Paces file checks: counts the bytes they read and, every few chunks, answers operator commands
// that are waiting on the input pipe without blocking the check.
#include "runner/pacer.h"

#include <limits>
#include <string>

#include "protocol/operator_commands.h"

namespace x5::runner {

bool FileCheckPacer::Poll(int64_t chunk_bytes) {
  const int64_t kb = chunk_bytes > 0 ? (chunk_bytes + 1023) / 1024 : 0;
  // The counter is 32-bit in the job log; saturate rather than wrap on enormous files.
  const int64_t total = int64_t{kilobytes_read_} + kb;
  kilobytes_read_ =
      static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
  io_count_ += kb * 10000;
  ++chunks_;
  if (chunks_ % check_interval_ != 0)
    return true;
  const Look look = LookForCommand();
  if (look == Look::kNothing)
    return true;
  link_.SendReport();
  if (look == Look::kKilled)
    killed_ = true;
  return look != Look::kKilled;
}

FileCheckPacer::Look FileCheckPacer::LookForCommand() {
  std::array<uint8_t, protocol::kOperatorCommandSize> peeked{};
  const core::Result<int64_t> waiting = link_.Peek(peeked);
  // A command that has not arrived whole is left for the next look, so the check never blocks.
  if (!waiting || *waiting < static_cast<int64_t>(protocol::kOperatorCommandSize))
    return Look::kNothing;
  const protocol::OperatorCommand command = protocol::DecodeOperatorCommand(peeked);
  const protocol::OperatorCommandKind kind = protocol::KindOf(command.name);
  protocol::OperatorCommand read;
  if (kind == protocol::OperatorCommandKind::kHold) {
    if (!link_.ReadCommand(read))
      return Look::kAnswered;
    // Hold the check until the operator resumes, kills or ends; every command gets a report.
    for (protocol::OperatorCommandKind held = protocol::KindOf(read.name);
         held != protocol::OperatorCommandKind::kEnd &&
         held != protocol::OperatorCommandKind::kKill &&
         held != protocol::OperatorCommandKind::kResume;
         held = protocol::KindOf(read.name)) {
      link_.SendReport();
      if (!link_.ReadCommand(read))
        return Look::kAnswered;  // the parent is gone: stop holding
      if (protocol::KindOf(read.name) == protocol::OperatorCommandKind::kSetPriority)
        link_.StorePriority(read.argument);
    }
    return protocol::KindOf(read.name) == protocol::OperatorCommandKind::kKill ? Look::kKilled
                                                                               : Look::kAnswered;
  }
  if (kind == protocol::OperatorCommandKind::kKill) {
    link_.ReadCommand(read);
    return Look::kKilled;
  }
  if (kind == protocol::OperatorCommandKind::kSetPriority)
    link_.StorePriority(command.argument);
  if (!link_.ReadCommand(read))
    return Look::kNothing;  // the pipe broke: there is no one to answer
  return Look::kAnswered;
}

}  // namespace x5::runner
