// Encoding and decoding of the protocol records; block reading and text writing over a pipe.
#include "protocol/protocol.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ascii_text.h"

namespace x5::protocol {
namespace {

int32_t GetI32(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return static_cast<int32_t>(v);
}

int64_t GetI64(const uint8_t* p) {
  uint64_t lo = static_cast<uint32_t>(GetI32(p));
  uint64_t hi = static_cast<uint32_t>(GetI32(p + 4));
  return static_cast<int64_t>(hi << 32 | lo);
}

void PutI32(uint8_t* p, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutI64(uint8_t* p, int64_t value) {
  uint64_t v = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i)
    p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string GetText(const uint8_t* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p), width);
}

void PutText(uint8_t* p, std::string_view text, size_t width) {
  std::string padded = Padded(text, width);
  std::memcpy(p, padded.data(), width);
}

}  // namespace

std::string Padded(std::string_view text, size_t width) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::string Trimmed(std::string_view text) {
  return std::string(core::TrimRight(text));
}

TaskRecord DecodeTaskRecord(std::span<const uint8_t, kTaskRecordSize> bytes) {
  const uint8_t* b = bytes.data();
  TaskRecord t;
  t.window_left = GetI32(b + 4);
  t.window_top = GetI32(b + 8);
  t.window_width = GetI32(b + 12);
  t.window_height = GetI32(b + 16);
  t.console_columns = GetI32(b + 20);
  t.console_rows = GetI32(b + 24);
  t.job_number = GetI32(b + 28);
  t.step_number = GetI32(b + 32);
  t.priority = GetI32(b + 36);
  t.user_name = GetText(b + 40, kUserNameWidth);
  t.password = GetText(b + 80, kPasswordWidth);
  t.domain = GetText(b + 120, kDomainWidth);
  t.job_name = GetText(b + 160, kJobNameWidth);
  t.command_length = GetI32(b + 224);
  t.conditions_length = GetI32(b + 228);
  t.variables_length = GetI32(b + 232);
  t.working_directory = GetText(b + 236, kPathWidth);
  t.console_file = GetText(b + 492, kPathWidth);
  t.job_base_directory = GetText(b + 748, kPathWidth);
  t.step_directory = GetText(b + 1004, kStepDirectoryWidth);
  t.maximum_rc = GetI32(b + 1036);
  t.task_rc = GetI32(b + 1040);
  t.step_minimum_rc = GetI32(b + 1044);
  t.step_maximum_rc = GetI32(b + 1048);
  t.repeat_count = GetI32(b + 1052);
  t.file_buffer_size = GetI32(b + 1064);
  t.condition_line_width = GetI32(b + 1068);
  t.condition_line_limit = GetI32(b + 1072);
  t.picture_interval = GetI32(b + 1076);
  t.os_version = b[1084];
  t.asks_extensions =
      std::equal(kExtensionRequest.begin(), kExtensionRequest.end(), b + kExtensionRequestOffset,
                 [](char want, uint8_t got) { return static_cast<uint8_t>(want) == got; });
  return t;
}

TaskBytes EncodeTaskRecord(const TaskRecord& t) {
  TaskBytes bytes{};
  uint8_t* b = bytes.data();
  PutI32(b + 4, t.window_left);
  PutI32(b + 8, t.window_top);
  PutI32(b + 12, t.window_width);
  PutI32(b + 16, t.window_height);
  PutI32(b + 20, t.console_columns);
  PutI32(b + 24, t.console_rows);
  PutI32(b + 28, t.job_number);
  PutI32(b + 32, t.step_number);
  PutI32(b + 36, t.priority);
  PutText(b + 40, t.user_name, kUserNameWidth);
  PutText(b + 80, t.password, kPasswordWidth);
  PutText(b + 120, t.domain, kDomainWidth);
  PutText(b + 160, t.job_name, kJobNameWidth);
  if (t.asks_extensions)
    std::memcpy(b + kExtensionRequestOffset, kExtensionRequest.data(), kExtensionRequestWidth);
  else
    PutText(b + kExtensionRequestOffset, "", kExtensionRequestWidth);
  PutI32(b + 224, t.command_length);
  PutI32(b + 228, t.conditions_length);
  PutI32(b + 232, t.variables_length);
  PutText(b + 236, t.working_directory, kPathWidth);
  PutText(b + 492, t.console_file, kPathWidth);
  PutText(b + 748, t.job_base_directory, kPathWidth);
  PutText(b + 1004, t.step_directory, kStepDirectoryWidth);
  PutI32(b + 1036, t.maximum_rc);
  PutI32(b + 1040, t.task_rc);
  PutI32(b + 1044, t.step_minimum_rc);
  PutI32(b + 1048, t.step_maximum_rc);
  PutI32(b + 1052, t.repeat_count);
  PutI32(b + 1064, t.file_buffer_size);
  PutI32(b + 1068, t.condition_line_width);
  PutI32(b + 1072, t.condition_line_limit);
  PutI32(b + 1076, t.picture_interval);
  PutText(b + 1080, "", 4);
  b[1084] = t.os_version;
  return bytes;
}

std::array<uint8_t, kStatusRecordSize> EncodeStatusRecord(const StatusRecord& r) {
  std::array<uint8_t, kStatusRecordSize> bytes{};
  uint8_t* b = bytes.data();
  PutI32(b + 0, static_cast<int32_t>(r.process_handle));
  PutI32(b + 4, static_cast<int32_t>(r.thread_handle));
  PutI32(b + 8, static_cast<int32_t>(r.process_id));
  PutI32(b + 12, static_cast<int32_t>(r.thread_id));
  PutText(b + 16, r.status_text, 8);
  PutI32(b + 24, r.status_code);
  return bytes;
}

StatusRecord DecodeStatusRecord(std::span<const uint8_t, kStatusRecordSize> bytes) {
  const uint8_t* b = bytes.data();
  StatusRecord r;
  r.process_handle = static_cast<uint32_t>(GetI32(b + 0));
  r.thread_handle = static_cast<uint32_t>(GetI32(b + 4));
  r.process_id = static_cast<uint32_t>(GetI32(b + 8));
  r.thread_id = static_cast<uint32_t>(GetI32(b + 12));
  r.status_text = GetText(b + 16, 8);
  r.status_code = GetI32(b + 24);
  return r;
}

std::array<uint8_t, kOperatorCommandSize> EncodeOperatorCommand(std::string_view name,
                                                                int32_t argument) {
  std::array<uint8_t, kOperatorCommandSize> bytes{};
  PutText(bytes.data(), name, 4);
  PutI32(bytes.data() + 4, argument);
  return bytes;
}

OperatorCommand DecodeOperatorCommand(std::span<const uint8_t, kOperatorCommandSize> bytes) {
  return OperatorCommand{GetText(bytes.data(), 4), GetI32(bytes.data() + 4)};
}

std::array<uint8_t, kStepReportSize> EncodeStepReport(const StepReport& r) {
  std::array<uint8_t, kStepReportSize> bytes{};
  uint8_t* b = bytes.data();
  PutI64(b + 0, r.start_time);
  PutI64(b + 8, r.end_time);
  PutI64(b + 16, r.kernel_time);
  PutI64(b + 24, r.user_time);
  PutI32(b + 32, r.peak_memory_kb);
  PutI32(b + 36, r.memory_kb);
  PutI64(b + 40, r.io_count);
  PutText(b + 48, r.status_text, 8);
  PutI32(b + 56, r.status_code);
  PutI32(b + 60, r.step_exit_code);
  PutI32(b + 68, r.current_rc);
  b[72] = static_cast<uint8_t>(r.result_flag);
  b[73] = r.version;
  b[74] = static_cast<uint8_t>(r.phase);
  PutI32(b + 76, r.report_text_length);
  return bytes;
}

StepReport DecodeStepReport(std::span<const uint8_t, kStepReportSize> bytes) {
  const uint8_t* b = bytes.data();
  StepReport r;
  r.start_time = GetI64(b + 0);
  r.end_time = GetI64(b + 8);
  r.kernel_time = GetI64(b + 16);
  r.user_time = GetI64(b + 24);
  r.peak_memory_kb = GetI32(b + 32);
  r.memory_kb = GetI32(b + 36);
  r.io_count = GetI64(b + 40);
  r.status_text = GetText(b + 48, 8);
  r.status_code = GetI32(b + 56);
  r.step_exit_code = GetI32(b + 60);
  r.current_rc = GetI32(b + 68);
  r.result_flag = static_cast<char>(b[72]);
  r.version = b[73];
  r.phase = static_cast<Phase>(b[74]);
  r.report_text_length = GetI32(b + 76);
  return r;
}

core::Result<int64_t> ReadFull(ByteReader& in, std::span<uint8_t> into) {
  size_t got = 0;
  while (got < into.size()) {
    core::Result<int64_t> read = in.Read(into.subspan(got));
    if (!read) {
      if (got > 0)
        break;
      return read;
    }
    const int64_t n = *read;
    if (n <= 0)
      break;
    got += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(got);
}

core::Result<int64_t> WriteFull(ByteWriter& out, std::span<const uint8_t> bytes) {
  size_t put = 0;
  while (put < bytes.size()) {
    core::Result<int64_t> written = out.Write(bytes.subspan(put));
    if (!written)
      return written;
    const int64_t n = *written;
    if (n <= 0)
      break;
    put += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(put);
}

BlockResult ReadTextBlock(ByteReader& in,
                          int32_t declared_length,
                          bool is_variables_block,
                          char& list_delimiter) {
  BlockResult block;
  if (declared_length <= 0)
    return block;
  std::vector<uint8_t> buffer(kBlockRequestSize);
  int64_t unrequested = declared_length;
  bool first_bytes = true;
  while (unrequested > 0) {
    size_t request = static_cast<size_t>(std::min<int64_t>(unrequested, kBlockRequestSize));
    core::Result<int64_t> read = ReadFull(in, std::span<uint8_t>(buffer.data(), request));
    if (!read) {
      block.failure = std::move(read).failure();
      return block;
    }
    const int64_t n = *read;
    if (n == 0)
      break;  // the parent closed its pipe: keep what arrived
    unrequested -= n;
    const char* chars = reinterpret_cast<const char*>(buffer.data());
    size_t skip = 0;
    if (is_variables_block && first_bytes && block.text.empty() &&
        static_cast<uint8_t>(chars[0]) < 32) {
      list_delimiter = chars[0];
      skip = 1;
    }
    first_bytes = false;
    block.text.append(chars + skip, static_cast<size_t>(n) - skip);
    block.result += n - static_cast<int64_t>(skip);
    if (static_cast<size_t>(n) < request)
      break;  // pipe ended mid-block
  }
  return block;
}

core::Result<int64_t> WriteText(ByteWriter& out, std::string_view text) {
  int64_t total = 0;
  for (size_t pos = 0; pos < text.size(); pos += kTextWritePiece) {
    std::string_view piece = text.substr(pos, kTextWritePiece);
    core::Result<int64_t> written =
        WriteFull(out, std::span(reinterpret_cast<const uint8_t*>(piece.data()), piece.size()));
    if (!written)
      return written;
    total += *written;
  }
  return total;
}

}  // namespace x5::protocol
