// Test double of a runner process: an in-memory ChildProcess, optionally speaking the protocol
// from a script. Used by the x5ctl unit tests only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "protocol/status_texts.h"
#include "x5ctl/step/session.h"

namespace x5::ctl::testing {

struct FakeState {
  std::string to_parent;  // bytes the parent will read
  size_t read_pos = 0;
  size_t piece = SIZE_MAX;  // most bytes one Read hands out
  bool output_closed = false;
  std::string from_parent;  // bytes the parent wrote
  bool input_closed = false;
  bool killed = false;
  std::optional<int32_t> exit_code;          // what Wait gives; nullopt: still running
  std::function<void(FakeState&)> on_input;  // after each write and on close of input
};

class FakeChild final : public host::ChildProcess {
 public:
  explicit FakeChild(std::shared_ptr<FakeState> state) : state_(std::move(state)) {}

  IoResult Read(std::span<uint8_t> into, host::Deadline) override {
    FakeState& s = *state_;
    size_t left = s.to_parent.size() - s.read_pos;
    if (left == 0)
      return Moved{s.output_closed ? Io::kEndOfPipe : Io::kTimedOut, 0};
    size_t n = std::min({left, into.size(), s.piece});
    std::copy_n(s.to_parent.data() + s.read_pos, n, into.data());
    s.read_pos += n;
    return Moved{Io::kOk, n};
  }
  IoResult Write(std::span<const uint8_t> bytes, host::Deadline) override {
    FakeState& s = *state_;
    if (s.input_closed)
      return Moved{Io::kEndOfPipe, 0};
    s.from_parent.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (s.on_input)
      s.on_input(s);
    return Moved{Io::kOk, bytes.size()};
  }
  void CloseInput() override {
    state_->input_closed = true;
    if (state_->on_input)
      state_->on_input(*state_);
  }
  std::optional<int32_t> Wait(host::Deadline) override { return state_->exit_code; }
  void Kill() override {
    state_->killed = true;
    state_->output_closed = true;
    state_->exit_code = 137;
  }

 private:
  std::shared_ptr<FakeState> state_;
};

inline void Append(std::string& out, std::span<const uint8_t> bytes) {
  out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline void QueueReport(FakeState& s, const step::ReportRecord& r) {
  protocol::StepReport report = r.report;
  report.report_text_length = static_cast<int32_t>(r.text.size());
  Append(s.to_parent, protocol::EncodeStepReport(report));
  s.to_parent += r.text;
}

// Speaks the runner's side: answers the task (its first `task_size` bytes) with "Started ", then
// each operator command with what `respond` returns (it may also close the output or set the exit
// code).
using Responder =
    std::function<std::vector<step::ReportRecord>(const protocol::OperatorCommand&, FakeState&)>;

inline std::function<void(FakeState&)> ScriptedRunner(Responder respond, size_t task_size) {
  auto consumed = std::make_shared<size_t>(0);
  return [=](FakeState& s) {
    if (*consumed == 0) {
      if (s.from_parent.size() < task_size)
        return;
      *consumed = task_size;
      protocol::StatusRecord status;
      status.status_text = std::string(protocol::kStatusStarted);
      Append(s.to_parent, protocol::EncodeStatusRecord(status));
    }
    while (s.from_parent.size() - *consumed >= protocol::kOperatorCommandSize) {
      protocol::OperatorCommand command =
          protocol::DecodeOperatorCommand(std::span<const uint8_t, 8>(
              reinterpret_cast<const uint8_t*>(s.from_parent.data() + *consumed), 8));
      *consumed += protocol::kOperatorCommandSize;
      for (const step::ReportRecord& r : respond(command, s))
        QueueReport(s, r);
    }
  };
}

inline step::ReportRecord PhaseReport(uint8_t phase,
                                      std::string status_text,
                                      std::string text = {}) {
  step::ReportRecord r;
  r.report.phase = static_cast<protocol::Phase>(phase);  // as on the wire
  r.report.status_text = protocol::Padded(status_text, 8);
  r.text = std::move(text);
  return r;
}

}  // namespace x5::ctl::testing
