// The parent's side of one runner: starts it with pipes on its standard input and output and moves
// whole protocol records, with a time limit on every wait so a silent runner cannot hang a caller.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "protocol/protocol.h"
#include "x5ctl/host/child_process.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::step {

// The runner to start: `given` (--runner) when it is set, else the first of the places an
// installation puts it (host::RunnerCandidates, from x5ctl's own folder). Either is checked at
// once, so that a mistake is named plainly instead of hanging or failing inside Wine: a missing
// file, a folder, and a file that is not a program as `wine_command` would start it (through Wine
// or on Windows, a Windows program; run directly elsewhere, an executable file).
core::Result<std::string> RunnerPath(const std::string& given, std::string_view wine_command);
// The same from the folder `own` instead of x5ctl's own (tests).
core::Result<std::string> RunnerPathFrom(const std::filesystem::path& own,
                                         const std::string& given,
                                         std::string_view wine_command);

// The argument vector for starting `runner_path` through `wine_command`, which may hold several
// words ("env WINEDEBUG=-all wine"); an empty command runs the runner directly.
[[nodiscard]] std::vector<std::string> RunnerCommandLine(std::string_view runner_path,
                                                         std::string_view wine_command);

// One step report and the report text that followed it.
struct ReportRecord {
  protocol::StepReport report;
  std::string text;
};

enum class SessionError {
  kNone,
  kNotStarted,   // no runner, or its input was already closed
  kStartFailed,  // the runner could not be started
  kTimedOut,     // the deadline passed first
  kEndOfPipe,    // the runner closed its output (or input) before the record was complete
  kFailed,       // a system call failed
  kBadRecord,    // the runner sent a record that cannot be right (report text length)
  kInterrupted,  // the caller's Interrupt was requested
};

// Drives one runner as its parent does. Every call that waits for the runner gives up after the
// session's timeout (60 s unless changed) and says why in LastError(). Not for use from several
// threads at once.
class RunnerSession {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{60'000};
  // Larger report text lengths are taken for a corrupt record rather than read.
  static constexpr int32_t kMaxReportText = 64 << 20;
  // Most bytes ReadRemaining takes after the conversation: a whole report with the longest text.
  static constexpr size_t kMaxRemaining = size_t{kMaxReportText} + protocol::kStepReportSize;

  RunnerSession() = default;
  // Takes over a child that is already running (tests, or callers that start it their own way).
  explicit RunnerSession(std::unique_ptr<host::ChildProcess> child);
  // Closes the runner's input, lets it end for up to 2 s, then kills it.
  ~RunnerSession();
  RunnerSession(const RunnerSession&) = delete;
  RunnerSession& operator=(const RunnerSession&) = delete;

  // Starts the runner (through `wine_command`, see RunnerCommandLine).
  [[nodiscard]] bool Start(std::string_view runner_path,
                           std::string_view wine_command = host::DefaultWineCommand());
  [[nodiscard]] bool Start(const std::vector<std::string>& argv);
  // Where the runner's standard error (Wine's own notices) goes; passed through unless set before
  // Start.
  void SetErrors(host::ChildErrors errors) { errors_ = std::move(errors); }
  // Every wait gives up with kInterrupted once `interrupt` is requested (it must outlive the
  // session); Kill and the destructor still end the runner.
  void SetInterrupt(const host::Interrupt* interrupt);
  // Zero or negative: wait without limit.
  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  std::chrono::milliseconds Timeout() const { return timeout_; }

  // Sends the task record with its length fields set from the blocks, then the blocks.
  [[nodiscard]] bool SendTask(protocol::TaskRecord task, const text::TaskBlocks& blocks);
  // Sends bytes as they are (task streams with deliberate faults, split records, ...).
  [[nodiscard]] bool SendBytes(std::span<const uint8_t> bytes);
  // Reads exactly the 28-byte status record.
  [[nodiscard]] std::optional<protocol::StatusRecord> ReadStatus();
  // Sends one operator command; the name is blank padded or cut to 4 characters.
  [[nodiscard]] bool Send(std::string_view name, int32_t argument = 0);
  // Reads one 80-byte step report and then exactly its report_text_length bytes of text.
  [[nodiscard]] std::optional<ReportRecord> ReadReport();
  // Send, then ReadReport.
  [[nodiscard]] std::optional<ReportRecord> Exchange(std::string_view name, int32_t argument = 0);
  void CloseInput();
  // Every byte until the runner closes its output; fails (kBadRecord) after kMaxRemaining bytes,
  // so a runner that never stops writing cannot fill the caller's memory before the timeout.
  [[nodiscard]] std::optional<std::vector<uint8_t>> ReadRemaining();
  // The runner's exit code once it has ended.
  [[nodiscard]] std::optional<int32_t> Wait();
  void Kill();

  bool Started() const { return child_ != nullptr; }
  const std::string& LastError() const { return error_; }
  SessionError LastErrorKind() const { return error_kind_; }
  // Every byte read from the runner and written to it, in order (for captures and exact checks).
  const std::vector<uint8_t>& Received() const { return received_; }
  const std::vector<uint8_t>& Sent() const { return sent_; }

 private:
  host::Deadline NextDeadline() const;
  bool ReadExact(std::span<uint8_t> into, std::string_view what, host::Deadline deadline);
  void SetError(SessionError kind, std::string message);
  void ClearError();

  host::ChildErrors errors_;
  std::unique_ptr<host::ChildProcess> child_;
  const host::Interrupt* interrupt_ = nullptr;
  bool input_open_ = false;
  std::optional<int32_t> exit_code_;
  std::chrono::milliseconds timeout_ = kDefaultTimeout;
  std::string error_;
  SessionError error_kind_ = SessionError::kNone;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> sent_;
};

}  // namespace x5::ctl::step
