// Paces file checks: counts the bytes they read and, every few chunks, answers operator commands
// that are waiting on the input pipe without blocking the check.
#include "runner/pacer.h"

#include <limits>
#include <string>

namespace x5 {

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
  const int64_t result = LookForCommand();
  if (result <= 0)
    return true;
  link_.SendReport();
  if (result == 1)
    killed_ = true;
  return result != 1;
}

int64_t FileCheckPacer::LookForCommand() {
  std::array<uint8_t, kOperatorCommandSize> peeked{};
  const int64_t waiting = link_.Peek(peeked);
  if (waiting < 0)
    return waiting;
  // A command that has not arrived whole is left for the next look, so the check never blocks.
  if (waiting < static_cast<int64_t>(kOperatorCommandSize))
    return 0;
  const OperatorCommand command = DecodeOperatorCommand(peeked);
  OperatorCommand read;
  if (command.name == "STOP") {
    if (!link_.ReadCommand(read))
      return waiting;
    // Hold the check until the operator resumes, kills or ends; every command gets a report.
    while (read.name != "END " && read.name != "KILL" && read.name != "STRT") {
      link_.SendReport();
      if (!link_.ReadCommand(read))
        return waiting;  // the parent is gone: stop holding
      if (read.name == "PRTY")
        link_.StorePriority(read.argument);
    }
    return read.name == "KILL" ? 1 : waiting;
  }
  if (command.name == "KILL") {
    (void)link_.ReadCommand(read);
    return 1;
  }
  if (command.name == "PRTY")
    link_.StorePriority(command.argument);
  if (!link_.ReadCommand(read))
    return -109;  // ERROR_BROKEN_PIPE
  return waiting;
}

}  // namespace x5
