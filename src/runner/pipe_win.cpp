// The parent's pipes as byte streams, and the pacer's link to them.
#include "runner/pipe_win.h"

#include <algorithm>
#include <utility>

#include "runner/run_win.h"

namespace x5::runner {

core::Result<int64_t> PipeReader::Read(std::span<uint8_t> into) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(into.size(), 1u << 30));
  if (!ReadFile(handle_, into.data(), want, &got, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)
      return int64_t{0};
    return core::Failure{"the parent's pipe cannot be read", error};
  }
  return int64_t{got};
}

core::Result<int64_t> PipeWriter::Write(std::span<const uint8_t> bytes) {
  DWORD put = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
  if (!WriteFile(handle_, bytes.data(), want, &put, nullptr))
    return core::Failure{"the parent's pipe cannot be written", GetLastError()};
  return int64_t{put};
}

std::optional<protocol::OperatorCommand> ReadOperatorCommand(RunServices& services) {
  // A pipe that has ended or failed once is not read again: nothing more can come from it, and
  // reading on would only spin.
  if (services.parent_gone)
    return std::nullopt;
  std::array<uint8_t, protocol::kOperatorCommandSize> bytes{};
  PipeReader in(services.input);
  const core::Result<int64_t> read = protocol::ReadFull(in, bytes);
  if (!read || *read != static_cast<int64_t>(bytes.size())) {
    services.parent_gone = true;
    if (services.console.IsOpen())
      services.console.SendText(kParentGoneLine);
    return std::nullopt;
  }
  return protocol::DecodeOperatorCommand(bytes);
}

void WriteStepReport(RunOutcome& outcome, HANDLE output) {
  outcome.report.current_rc = outcome.decided.rc.current_rc;
  outcome.report.result_flag = core::FlagByte(outcome.decided.rc.result_flag);
  PipeWriter out(output);
  auto bytes = protocol::EncodeStepReport(outcome.report);
  // A report the parent cannot take is lost with the parent: the run goes on to its end.
  (void)protocol::WriteFull(out, bytes);
  if (outcome.final_flag && outcome.report.report_text_length > 0) {
    (void)protocol::WriteText(
        out, std::string_view(outcome.report_text)
                 .substr(0, static_cast<size_t>(outcome.report.report_text_length)));
  }
}

core::Result<int64_t> PipeCommandLink::Peek(
    std::array<uint8_t, protocol::kOperatorCommandSize>& into) {
  if (services_.parent_gone)
    return int64_t{0};
  // A text short enough for a string's own storage: a look at the pipe never allocates.
  if (unpeekable_ != 0)
    return core::Failure{"cannot peek", unpeekable_};
  DWORD read = 0;
  DWORD available = 0;
  if (!PeekNamedPipe(services_.input, into.data(), static_cast<DWORD>(into.size()), &read,
                     &available, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
      unpeekable_ = error;
    return core::Failure{"cannot peek", error};
  }
  return int64_t{available};
}

bool PipeCommandLink::ReadCommand(protocol::OperatorCommand& command) {
  std::optional<protocol::OperatorCommand> read = ReadOperatorCommand(services_);
  if (!read)
    return false;
  command = std::move(*read);
  return true;
}

void PipeCommandLink::SendReport() {
  outcome_.report.report_text_length = 0;
  outcome_.report.status_code = step_.last_wait_result;
  WriteStepReport(outcome_, services_.output.get());
}

void PipeCommandLink::StorePriority(int32_t priority) {
  step_.launch_priority = priority;
}

}  // namespace x5::runner
