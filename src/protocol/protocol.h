// Byte layouts of the records exchanged with the parent scheduler, and the pipe routines that move
// them. Shared by the runner and by the parent-side tool, so both sides use one definition.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/result.h"

namespace x5::protocol {

inline constexpr size_t kTaskRecordSize = 1085;
inline constexpr size_t kStatusRecordSize = 28;
inline constexpr size_t kOperatorCommandSize = 8;
inline constexpr size_t kStepReportSize = 80;
inline constexpr size_t kBlockRequestSize = 4096;
inline constexpr size_t kTextWritePiece = 4096;

// Still-running result of a non-waiting check on the step process (WAIT_TIMEOUT).
inline constexpr int32_t kStillRunning = 258;

// What a parent writes into the task record's reserved text field (offset 192, 32 bytes, which
// parents leave blank, zero or as their memory held it) to ask for what the runner gives beyond
// the records' first layout: the step's exit code in the final reports. Control bytes at both ends
// and zeros after it, so neither text nor rubbish matches it by accident; a parent that does not
// write it sees exactly the first layout's bytes.
inline constexpr size_t kExtensionRequestOffset = 192;
inline constexpr size_t kExtensionRequestWidth = 32;
inline constexpr char kExtensionRequestBytes[] =
    "\x05X5CTL/EXTENSIONS/1\x05\0\0\0\0\0\0\0\0\0\0\0\0";
static_assert(sizeof(kExtensionRequestBytes) - 1 == kExtensionRequestWidth);
inline constexpr std::string_view kExtensionRequest{kExtensionRequestBytes, kExtensionRequestWidth};

// The task record, decoded. Text fields keep their raw width (blank padded); use Trimmed().
struct TaskRecord {
  int32_t window_left = 0;
  int32_t window_top = 0;
  int32_t window_width = 0;
  int32_t window_height = 0;
  int32_t console_columns = 0;
  int32_t console_rows = 0;
  int32_t job_number = 0;
  int32_t step_number = 0;
  int32_t priority = 0;
  std::string user_name;  // 40
  std::string password;   // 40, enciphered
  std::string domain;     // 40
  std::string job_name;   // 32
  int32_t command_length = 0;
  int32_t conditions_length = 0;
  int32_t variables_length = 0;
  std::string working_directory;   // 256
  std::string console_file;        // 256
  std::string job_base_directory;  // 256
  std::string step_directory;      // 32
  int32_t maximum_rc = 0;
  int32_t task_rc = 0;
  int32_t step_minimum_rc = 0;
  int32_t step_maximum_rc = 0;
  int32_t repeat_count = 0;
  int32_t file_buffer_size = 0;
  int32_t condition_line_width = 0;
  int32_t condition_line_limit = 0;
  int32_t picture_interval = 0;
  uint8_t os_version = 0;
  // The reserved field holds kExtensionRequest exactly.
  bool asks_extensions = false;
};

// Field widths of the text fields, for encoders that must pad.
inline constexpr size_t kUserNameWidth = 40;
inline constexpr size_t kPasswordWidth = 40;
inline constexpr size_t kDomainWidth = 40;
inline constexpr size_t kJobNameWidth = 32;
inline constexpr size_t kPathWidth = 256;
inline constexpr size_t kStepDirectoryWidth = 32;

using TaskBytes = std::array<uint8_t, kTaskRecordSize>;

[[nodiscard]] TaskRecord DecodeTaskRecord(std::span<const uint8_t, kTaskRecordSize> bytes);
// Text longer than its field is cut; shorter text is padded with blanks.
[[nodiscard]] TaskBytes EncodeTaskRecord(const TaskRecord& task);

// The status record; in memory it doubles as the launch record of the step.
struct StatusRecord {
  uint32_t process_handle = 0;
  uint32_t thread_handle = 0;
  uint32_t process_id = 0;
  uint32_t thread_id = 0;
  std::string status_text = "        ";  // always 8 characters
  int32_t status_code = 0;
};

[[nodiscard]] std::array<uint8_t, kStatusRecordSize> EncodeStatusRecord(const StatusRecord& r);
[[nodiscard]] StatusRecord DecodeStatusRecord(std::span<const uint8_t, kStatusRecordSize> bytes);

struct OperatorCommand {
  std::string name;  // always 4 characters
  int32_t argument = 0;
};

[[nodiscard]] std::array<uint8_t, kOperatorCommandSize> EncodeOperatorCommand(std::string_view name,
                                                                              int32_t argument);
[[nodiscard]] OperatorCommand DecodeOperatorCommand(
    std::span<const uint8_t, kOperatorCommandSize> bytes);

// How far the run has come, as every step report says; its byte on the wire is the number.
enum class Phase : uint8_t {
  kInitialising = 0,   // from the start to the rules before the step
  kBeforeStep = 1,     // the rules before the step, up to the launch
  kStepLaunched = 2,   // the step runs
  kStepEnded = 3,      // the step has ended: the rules after it
  kWaitingForEnd = 4,  // the final reports, until "END "
  kEndReceived = 5,    // the last report, after "END "
};

// A final report: the step has ended, or it will not run (the phases from 4 on).
[[nodiscard]] constexpr bool IsFinal(Phase phase) noexcept {
  return phase >= Phase::kWaitingForEnd;
}

struct StepReport {
  int64_t start_time = 0;  // local time as FILETIME
  int64_t end_time = 0;
  int64_t kernel_time = 0;  // 100 ns units
  int64_t user_time = 0;
  int32_t peak_memory_kb = 0;
  int32_t memory_kb = 0;
  int64_t io_count = 0;                  // count * 10000
  std::string status_text = "WAIT    ";  // always 8 characters
  int32_t status_code = 0;
  // Reserved (0) for every parent but one that asked for the extensions (kExtensionRequest): then
  // the exit code of the step's main process in the final reports once the runner has seen it
  // end. The status code stays the wait result, as parents expect of "STEP OK".
  int32_t step_exit_code = 0;
  int32_t current_rc = 0;
  char result_flag = '+';
  uint8_t version = 1;
  Phase phase = Phase::kInitialising;
  int32_t report_text_length = 0;
};

[[nodiscard]] std::array<uint8_t, kStepReportSize> EncodeStepReport(const StepReport& r);
[[nodiscard]] StepReport DecodeStepReport(std::span<const uint8_t, kStepReportSize> bytes);

// Pads with blanks or cuts to exactly `width` characters.
std::string Padded(std::string_view text, size_t width);
// Removes trailing blanks (a field of only blanks becomes empty).
std::string Trimmed(std::string_view text);

// The runner's side of one pipe. Read gives the bytes read (0 at end of pipe), Write the bytes
// written; both fail with the system's error code.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual core::Result<int64_t> Read(std::span<uint8_t> into) = 0;
};

class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  virtual core::Result<int64_t> Write(std::span<const uint8_t> bytes) = 0;
};

// Reads until `into` is full or the pipe ends: a pipe may deliver one write of the parent in
// pieces. The bytes read; fails only when a read failed before anything arrived.
core::Result<int64_t> ReadFull(ByteReader& in, std::span<uint8_t> into);

// Writes all bytes, looping over partial writes: the bytes written.
core::Result<int64_t> WriteFull(ByteWriter& out, std::span<const uint8_t> bytes);

struct BlockResult {
  std::string text;
  int64_t result = 0;                    // characters taken
  std::optional<core::Failure> failure;  // a read failed: `text` holds what arrived before it
};

// Reads one text block of the declared length in requests of at most 4096 bytes. For the variables
// block a leading control character becomes the list delimiter and is not part of the text.
// Reads until the declared length has arrived or the pipe ends, so no block byte is ever taken for
// an operator command. Memory grows with what arrives, never with the declared length alone.
BlockResult ReadTextBlock(ByteReader& in,
                          int32_t declared_length,
                          bool is_variables_block,
                          char& list_delimiter);

// Writes the text in pieces of at most 4096 bytes: the sum written.
core::Result<int64_t> WriteText(ByteWriter& out, std::string_view text);

}  // namespace x5::protocol
