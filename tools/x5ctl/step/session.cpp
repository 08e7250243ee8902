// Record framing of a runner session: whole records over the child's pipes, with deadlines.
#include "x5ctl/step/session.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <new>
#include <utility>

#include "x5ctl/host/wine_host.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::step {
namespace {

std::string Describe(std::string_view what, size_t got, size_t want) {
  return std::string(what) + " (" + std::to_string(got) + " of " + std::to_string(want) +
         " bytes arrived)";
}

constexpr const char* kInterruptedText = "stopped on request while waiting for ";

}  // namespace

namespace {

// Why `path` cannot be the runner when started through `wine_command`; "" when it can.
std::string RunnerProblem(const std::filesystem::path& path, std::string_view wine_command) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found)
    return "no such file";
  if (status.type() == fs::file_type::directory)
    return "a folder, not the runner (x5runner.exe)";
  if (status.type() != fs::file_type::regular)
    return "not a regular file";
  const std::string program =
      fs::path(host::SplitWineCommand(wine_command).program).filename().string();
  const bool windows_program =
      program.starts_with("wine") || (program.empty() && host::DefaultWineCommand().empty());
  if (windows_program) {
    // A Windows program starts with "MZ" and names where its "PE" header lies.
    std::ifstream in(path, std::ios::binary);
    char head[64] = {};
    in.read(head, sizeof head);
    const uint32_t at = static_cast<uint8_t>(head[0x3C]) |
                        static_cast<uint32_t>(static_cast<uint8_t>(head[0x3D])) << 8 |
                        static_cast<uint32_t>(static_cast<uint8_t>(head[0x3E])) << 16 |
                        static_cast<uint32_t>(static_cast<uint8_t>(head[0x3F])) << 24;
    char signature[4] = {};
    const bool mz = in.gcount() == sizeof head && head[0] == 'M' && head[1] == 'Z';
    if (mz && in.seekg(at) && in.read(signature, sizeof signature) &&
        std::string_view(signature, 4) == std::string_view("PE\0\0", 4))
      return {};
    return "not a Windows program (the runner is x5runner.exe)";
  }
  if (program.empty() &&
      (fs::status(path, ec).permissions() &
       (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) == fs::perms::none)
    return "not an executable program";
  return {};
}

}  // namespace

core::Result<std::string> RunnerPath(const std::string& given, std::string_view wine_command) {
  return RunnerPathFrom(host::ExecutableDirectory(), given, wine_command);
}

core::Result<std::string> RunnerPathFrom(const std::filesystem::path& own,
                                         const std::string& given,
                                         std::string_view wine_command) {
  if (!given.empty()) {
    if (const std::string problem = RunnerProblem(given, wine_command); !problem.empty())
      return core::Failure{"--runner " + given + ": " + problem};
    return given;
  }
  if (own.empty())
    return core::Failure{
        "x5runner.exe not found (the folder of x5ctl is unknown); name it with --runner"};
  std::string looked;
  for (const host::RunnerCandidate& candidate : host::RunnerCandidates(own)) {
    const std::string path = candidate.path.lexically_normal().string();
    looked += (looked.empty() ? "" : ", ") + path;
    if (!candidate.skipped.empty()) {
      looked += " (not looked at: " + candidate.skipped + ")";
      continue;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
      continue;
    if (const std::string problem = RunnerProblem(path, wine_command); !problem.empty())
      return core::Failure{path + ": " + problem};
    return path;
  }
  return core::Failure{"x5runner.exe not found (looked for " + looked + "); name it with --runner"};
}

std::vector<std::string> RunnerCommandLine(std::string_view runner_path,
                                           std::string_view wine_command) {
  std::vector<std::string> argv;
  for (std::string_view word : text::Words(wine_command))
    argv.emplace_back(word);
  argv.emplace_back(runner_path);
  return argv;
}

RunnerSession::RunnerSession(std::unique_ptr<host::ChildProcess> child)
    : child_(std::move(child)), input_open_(child_ != nullptr) {}

RunnerSession::~RunnerSession() {
  if (!child_ || exit_code_)
    return;
  child_->CloseInput();
  if (!child_->Wait(std::chrono::steady_clock::now() + std::chrono::seconds(2))) {
    child_->Kill();
    child_->Wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  }
}

bool RunnerSession::Start(std::string_view runner_path, std::string_view wine_command) {
  return Start(RunnerCommandLine(runner_path, wine_command));
}

bool RunnerSession::Start(const std::vector<std::string>& argv) {
  ClearError();
  if (child_) {
    SetError(SessionError::kStartFailed, "this session has already started a runner");
    return false;
  }
  core::Result<std::unique_ptr<host::ChildProcess>> started =
      host::StartChildProcess(argv, errors_);
  if (!started) {
    SetError(SessionError::kStartFailed, started.failure().text);
    return false;
  }
  child_ = std::move(*started);
  child_->SetInterrupt(interrupt_);
  input_open_ = true;
  return true;
}

void RunnerSession::SetInterrupt(const host::Interrupt* interrupt) {
  interrupt_ = interrupt;
  if (child_)
    child_->SetInterrupt(interrupt);
}

host::Deadline RunnerSession::NextDeadline() const {
  if (timeout_.count() <= 0)
    return host::Deadline::max();
  return std::chrono::steady_clock::now() + timeout_;
}

void RunnerSession::SetError(SessionError kind, std::string message) {
  error_kind_ = kind;
  error_ = std::move(message);
}

void RunnerSession::ClearError() {
  error_kind_ = SessionError::kNone;
  error_.clear();
}

bool RunnerSession::SendTask(protocol::TaskRecord task, const text::TaskBlocks& blocks) {
  text::FillBlockLengths(task, blocks);
  try {
    std::vector<uint8_t> stream = text::EncodeTaskStream(task, blocks);
    return SendBytes(stream);
  } catch (const std::bad_alloc&) {
    SetError(SessionError::kFailed, "out of memory building the task stream");
    return false;
  }
}

bool RunnerSession::SendBytes(std::span<const uint8_t> bytes) {
  ClearError();
  if (!child_ || !input_open_) {
    SetError(SessionError::kNotStarted,
             child_ ? "the runner's input is already closed" : "no runner has been started");
    return false;
  }
  const host::ChildProcess::IoResult written = child_->Write(bytes, NextDeadline());
  if (!written) {
    SetError(SessionError::kFailed, written.failure().text);
    return false;
  }
  const host::ChildProcess::Moved& r = *written;
  try {
    sent_.insert(sent_.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(r.bytes));
  } catch (const std::bad_alloc&) {
    // The capture is a convenience; the conversation goes on without it.
  }
  switch (r.status) {
    case host::ChildProcess::Io::kOk:
      return true;
    case host::ChildProcess::Io::kTimedOut:
      SetError(SessionError::kTimedOut, "timed out after " + std::to_string(timeout_.count()) +
                                            " ms writing to the runner, which is not reading (" +
                                            std::to_string(r.bytes) + " of " +
                                            std::to_string(bytes.size()) + " bytes written)");
      return false;
    case host::ChildProcess::Io::kEndOfPipe:
      SetError(SessionError::kEndOfPipe, "the runner closed its input after " +
                                             std::to_string(r.bytes) + " of " +
                                             std::to_string(bytes.size()) + " bytes");
      return false;
    case host::ChildProcess::Io::kInterrupted:
      break;
  }
  SetError(SessionError::kInterrupted, std::string(kInterruptedText) + "the runner to read");
  return false;
}

bool RunnerSession::ReadExact(std::span<uint8_t> into,
                              std::string_view what,
                              host::Deadline deadline) {
  if (!child_) {
    SetError(SessionError::kNotStarted, "no runner has been started");
    return false;
  }
  size_t got = 0;
  while (got < into.size()) {
    const host::ChildProcess::IoResult read = child_->Read(into.subspan(got), deadline);
    if (!read) {
      SetError(SessionError::kFailed, read.failure().text + " (reading " + std::string(what) + ")");
      return false;
    }
    const host::ChildProcess::Moved& r = *read;
    try {
      received_.insert(received_.end(), into.begin() + static_cast<ptrdiff_t>(got),
                       into.begin() + static_cast<ptrdiff_t>(got + r.bytes));
    } catch (const std::bad_alloc&) {
    }
    got += r.bytes;
    switch (r.status) {
      case host::ChildProcess::Io::kOk:
        continue;
      case host::ChildProcess::Io::kTimedOut:
        SetError(SessionError::kTimedOut, "timed out after " + std::to_string(timeout_.count()) +
                                              " ms waiting for " +
                                              Describe(what, got, into.size()));
        return false;
      case host::ChildProcess::Io::kEndOfPipe:
        SetError(SessionError::kEndOfPipe, "the runner closed its output before the end of " +
                                               Describe(what, got, into.size()));
        return false;
      case host::ChildProcess::Io::kInterrupted:
        SetError(SessionError::kInterrupted, kInterruptedText + Describe(what, got, into.size()));
        return false;
    }
  }
  return true;
}

std::optional<protocol::StatusRecord> RunnerSession::ReadStatus() {
  ClearError();
  std::array<uint8_t, protocol::kStatusRecordSize> bytes{};
  if (!ReadExact(bytes, "the status record", NextDeadline()))
    return std::nullopt;
  return protocol::DecodeStatusRecord(bytes);
}

bool RunnerSession::Send(std::string_view name, int32_t argument) {
  std::array<uint8_t, protocol::kOperatorCommandSize> bytes =
      protocol::EncodeOperatorCommand(name, argument);
  return SendBytes(bytes);
}

std::optional<ReportRecord> RunnerSession::ReadReport() {
  ClearError();
  host::Deadline deadline = NextDeadline();
  std::array<uint8_t, protocol::kStepReportSize> bytes{};
  if (!ReadExact(bytes, "a step report", deadline))
    return std::nullopt;
  try {
    ReportRecord record{protocol::DecodeStepReport(bytes), {}};
    int32_t length = record.report.report_text_length;
    if (length > kMaxReportText) {
      SetError(SessionError::kBadRecord, "the step report announces " + std::to_string(length) +
                                             " bytes of report text, more than any runner sends");
      return std::nullopt;
    }
    if (length > 0) {
      record.text.resize(static_cast<size_t>(length));
      auto* data = reinterpret_cast<uint8_t*>(record.text.data());
      if (!ReadExact(std::span<uint8_t>(data, record.text.size()), "the report text", deadline))
        return std::nullopt;
    }
    return record;
  } catch (const std::bad_alloc&) {
    SetError(SessionError::kFailed, "out of memory reading the report text");
    return std::nullopt;
  }
}

std::optional<ReportRecord> RunnerSession::Exchange(std::string_view name, int32_t argument) {
  if (!Send(name, argument))
    return std::nullopt;
  return ReadReport();
}

void RunnerSession::CloseInput() {
  if (child_ && input_open_)
    child_->CloseInput();
  input_open_ = false;
}

std::optional<std::vector<uint8_t>> RunnerSession::ReadRemaining() {
  ClearError();
  if (!child_) {
    SetError(SessionError::kNotStarted, "no runner has been started");
    return std::nullopt;
  }
  host::Deadline deadline = NextDeadline();
  try {
    std::vector<uint8_t> all;
    std::array<uint8_t, 4096> buffer{};
    for (;;) {
      const host::ChildProcess::IoResult read = child_->Read(buffer, deadline);
      if (!read) {
        SetError(SessionError::kFailed, read.failure().text);
        return std::nullopt;
      }
      const host::ChildProcess::Moved& r = *read;
      all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(r.bytes));
      received_.insert(received_.end(), buffer.begin(),
                       buffer.begin() + static_cast<ptrdiff_t>(r.bytes));
      if (all.size() > kMaxRemaining) {
        SetError(SessionError::kBadRecord,
                 "the runner sent more than " + std::to_string(kMaxRemaining) +
                     " bytes after the conversation, more than any runner sends");
        return std::nullopt;
      }
      switch (r.status) {
        case host::ChildProcess::Io::kOk:
          continue;
        case host::ChildProcess::Io::kEndOfPipe:
          return all;
        case host::ChildProcess::Io::kTimedOut:
          SetError(SessionError::kTimedOut, "timed out after " + std::to_string(timeout_.count()) +
                                                " ms waiting for the runner to close its output (" +
                                                std::to_string(all.size()) + " bytes arrived)");
          return std::nullopt;
        case host::ChildProcess::Io::kInterrupted:
          SetError(SessionError::kInterrupted,
                   std::string(kInterruptedText) + "the runner to close its output");
          return std::nullopt;
      }
    }
  } catch (const std::bad_alloc&) {
    SetError(SessionError::kFailed, "out of memory reading the runner's output");
    return std::nullopt;
  }
}

std::optional<int32_t> RunnerSession::Wait() {
  ClearError();
  if (!child_) {
    SetError(SessionError::kNotStarted, "no runner has been started");
    return std::nullopt;
  }
  // In slices, so that an interrupt is noticed while the runner takes its time to end.
  const host::Deadline deadline = NextDeadline();
  while (!exit_code_) {
    if (interrupt_ != nullptr && interrupt_->Requested()) {
      SetError(SessionError::kInterrupted, std::string(kInterruptedText) + "the runner to end");
      return std::nullopt;
    }
    const host::Deadline slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    exit_code_ = child_->Wait(std::min(deadline, slice));
    if (!exit_code_ && std::chrono::steady_clock::now() >= deadline) {
      SetError(SessionError::kTimedOut, "timed out after " + std::to_string(timeout_.count()) +
                                            " ms waiting for the runner to end");
      return std::nullopt;
    }
  }
  return exit_code_;
}

void RunnerSession::Kill() {
  if (!child_ || exit_code_)
    return;
  child_->Kill();
  exit_code_ = child_->Wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
}

}  // namespace x5::ctl::step
