// The parent's pipes as byte streams, and the pacer's link to them.
#pragma once

#include <windows.h>

#include <optional>

#include "runner/pacer.h"
#include "protocol/protocol.h"

namespace x5::runner {

class StepProcess;
struct RunOutcome;
struct RunServices;

class PipeReader : public protocol::ByteReader {
 public:
  explicit PipeReader(HANDLE handle) : handle_(handle) {}
  // The end of the parent's pipe reads as 0 bytes, not as an error.
  core::Result<int64_t> Read(std::span<uint8_t> into) override;

 private:
  HANDLE handle_;
};

class PipeWriter : public protocol::ByteWriter {
 public:
  explicit PipeWriter(HANDLE handle) : handle_(handle) {}
  core::Result<int64_t> Write(std::span<const uint8_t> bytes) override;

 private:
  HANDLE handle_;
};

// Reads one whole operator command. None when the pipe failed or ended first: the parent is then
// gone for the rest of the run (services.parent_gone), the console says so once, and no later read
// or peek touches the pipe again.
std::optional<protocol::OperatorCommand> ReadOperatorCommand(RunServices& services);

inline constexpr const char* kParentGoneLine =
    "***** Parent pipe closed - the runner carries on without operator commands *****";

// The pacer's link: reads from the parent's pipe, reports from the outcome, and keeps a PRTY for
// the step's launch.
class PipeCommandLink : public CommandLink {
 public:
  PipeCommandLink(RunServices& services, RunOutcome& outcome, StepProcess& step)
      : services_(services), outcome_(outcome), step_(step) {}
  core::Result<int64_t> Peek(std::array<uint8_t, protocol::kOperatorCommandSize>& into) override;
  bool ReadCommand(protocol::OperatorCommand& command) override;
  void SendReport() override;
  void StorePriority(int32_t priority) override;

 private:
  RunServices& services_;
  RunOutcome& outcome_;
  StepProcess& step_;
  // A handle that cannot be peeked at all (under Wine, a pipe made by a Linux parent) never can
  // be: its failure is kept instead of being asked for again at every look of a file check.
  uint32_t unpeekable_ = 0;  // the peek's error code
};

}  // namespace x5::runner
