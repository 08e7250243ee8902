// One whole conversation with a runner as `x5ctl run` holds it: task, status record, operator
// commands with their reports, and the closing END handshake, printed as it happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "x5ctl/step/session.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::step {

// Where the operator commands of a conversation come from.
class OpSource {
 public:
  virtual ~OpSource() = default;
  // The next step, or nullopt when there are no more.
  virtual std::optional<text::OpStep> Next() = 0;
  // Steps known to be left without reading further (a stream source never knows).
  virtual size_t Pending() const { return 0; }
  // Whether a step's command and report are printed (a source's own polls need not be).
  virtual bool Shown(const text::OpStep&) const { return true; }
  // Every report the runner sends in answer to a step of this source.
  virtual void Answered(const ReportRecord&) {}
};

class ListOpSource final : public OpSource {
 public:
  explicit ListOpSource(std::vector<text::OpStep> ops) : ops_(std::move(ops)) {}
  std::optional<text::OpStep> Next() override;
  size_t Pending() const override { return ops_.size() - next_; }

 private:
  std::vector<text::OpStep> ops_;
  size_t next_ = 0;
};

// Op lines from a stream (x5ctl's own standard input), one per line; a line that is not
// understood is reported on `errors` and skipped.
class LineOpSource final : public OpSource {
 public:
  LineOpSource(std::istream& in, std::ostream& errors) : in_(in), errors_(errors) {}
  std::optional<text::OpStep> Next() override;

 private:
  std::istream& in_;
  std::ostream& errors_;
  size_t line_number_ = 0;
};

struct ConversationOptions {
  bool json = false;
  // How many times "END " is sent while the runner is still busy with its step before giving up
  // (each one waits up to the session timeout for its report).
  int end_attempts = 8;
};

// How a conversation ended.
enum class ConversationEnd {
  kCompleted,    // "END " answered from phase 5 (or the input closed on request), the runner ended
  kNotStarted,   // no status record: the runner did not take up the task
  kBrokeOff,     // the runner ended or closed a pipe early, or sent a record that cannot be right
  kTimedOut,     // the runner did not answer within the session's timeout
  kInterrupted,  // the session's Interrupt was requested
};

struct ConversationResult {
  ConversationEnd end = ConversationEnd::kBrokeOff;
  std::optional<ReportRecord> final_report;  // the last report from phase 4 or 5
  std::optional<int32_t> runner_exit_code;
  std::string problem;  // what went wrong, when the end is not kCompleted
  // The exit status of `x5ctl run`: 0 when the conversation ran to its end, else 1.
  int RunStatus() const { return end == ConversationEnd::kCompleted ? 0 : 1; }
};

// Sends the task stream, prints the status record, carries out the ops, then sends "END " until
// the runner answers with phase 5, reads to the end of its output and waits for it to exit.
// Records go to `out` (readable or JSON lines); problems go to `errors` (and to `out` as JSON
// error records in JSON mode). Unless the conversation completes, the runner is killed.
ConversationResult RunConversation(RunnerSession& session,
                                   std::span<const uint8_t> task_stream,
                                   OpSource& ops,
                                   const ConversationOptions& options,
                                   std::ostream& out,
                                   std::ostream& errors);

}  // namespace x5::ctl::step
