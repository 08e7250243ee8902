// Readable and JSON forms of the protocol records; decoding of captured streams.
#include "x5ctl/text/format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "core/calendar.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::text {
namespace {

using Json = nlohmann::ordered_json;

// A dumped JSON text with DEL and the C1 characters (U+0080..U+009F, two bytes each in UTF-8)
// escaped as well; they occur only inside strings, where the escape means the same character.
std::string EscapedControls(const std::string& dumped) {
  std::string out;
  out.reserve(dumped.size());
  for (size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<uint8_t>(dumped[i]);
    if (byte == 0x7F) {
      out += "\\u007f";
    } else if (byte == 0xC2 && i + 1 < dumped.size() &&
               static_cast<uint8_t>(dumped[i + 1]) >= 0x80 &&
               static_cast<uint8_t>(dumped[i + 1]) <= 0x9F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<uint8_t>(dumped[++i]));
      out += escape;
    } else {
      out += dumped[i];
    }
  }
  return out;
}

std::string Dump(const Json& json) {
  return JsonLine(json);
}

Json TimeJson(int64_t filetime) {
  if (filetime == 0)
    return nullptr;
  return FormatFileTime(filetime);
}

std::string FlagText(char flag) {
  return std::string(1, flag);
}

void AppendLine(std::string& out, std::string_view key, const std::string& value) {
  out.append(key);
  out += " = ";
  out += value;
  out += '\n';
}

}  // namespace

std::string JsonLine(const nlohmann::ordered_json& json) {
  return EscapedControls(json.dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::string JsonLine(const nlohmann::json& json) {
  return EscapedControls(json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32] = "";
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

std::string FormatFileTime(int64_t filetime) {
  if (filetime == 0)
    return "-";
  if (filetime < 0)
    return std::to_string(filetime);
  const core::LocalTime t = core::CalendarFromFileTime(filetime);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return buffer;
}

std::string FormatDuration(int64_t units) {
  bool negative = units < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  uint64_t millis = (magnitude + 5000) / 10000;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%" PRIu64 ".%03u s", negative ? "-" : "", millis / 1000,
                static_cast<unsigned>(millis % 1000));
  return buffer;
}

std::string FormatIoCount(int64_t fixed) {
  bool negative = fixed < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(fixed) : static_cast<uint64_t>(fixed);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%" PRIu64 ".%04u", negative ? "-" : "", magnitude / 10000,
                static_cast<unsigned>(magnitude % 10000));
  return buffer;
}

std::string PhaseName(protocol::Phase phase) {
  switch (phase) {
    case protocol::Phase::kInitialising:
      return "initialising";
    case protocol::Phase::kBeforeStep:
      return "before the step";
    case protocol::Phase::kStepLaunched:
      return "step launched";
    case protocol::Phase::kStepEnded:
      return "step ended";
    case protocol::Phase::kWaitingForEnd:
      return "waiting for END";
    case protocol::Phase::kEndReceived:
      return "END received";
    default:
      return "unknown";
  }
}

std::string FormatStatus(const protocol::StatusRecord& s) {
  return "status  " + QuotedText(s.status_text) + "  code " + std::to_string(s.status_code) +
         "  (process handle " + std::to_string(s.process_handle) + ", thread handle " +
         std::to_string(s.thread_handle) + ", process id " + std::to_string(s.process_id) +
         ", thread id " + std::to_string(s.thread_id) + ")\n";
}

std::string FormatReport(const step::ReportRecord& record, size_t number) {
  const protocol::StepReport& r = record.report;
  std::string out = "report " + std::to_string(number) + "  phase " +
                    std::to_string(static_cast<int>(r.phase)) + " (" + PhaseName(r.phase) +
                    ")  status " + QuotedText(r.status_text) + "  code " +
                    std::to_string(r.status_code) + "  current RC " + std::to_string(r.current_rc) +
                    "  flag " + QuotedText(FlagText(r.result_flag)) + "\n";
  out += "  start " + FormatFileTime(r.start_time) + "  end " + FormatFileTime(r.end_time) +
         "  kernel " + FormatDuration(r.kernel_time) + "  user " + FormatDuration(r.user_time) +
         "\n";
  out += "  peak memory " + std::to_string(r.peak_memory_kb) + " KB  memory " +
         std::to_string(r.memory_kb) + " KB  I/O " + FormatIoCount(r.io_count) + "  version " +
         std::to_string(r.version) + "\n";
  if (r.report_text_length != 0 || !record.text.empty()) {
    out += "  report text, " + std::to_string(r.report_text_length) + " bytes:\n";
    std::string_view text = record.text;
    while (!text.empty()) {
      size_t end = text.find("\r\n");
      std::string_view line = text.substr(0, end);
      out += line.empty() ? "  |\n" : "  | " + VisibleText(line) + "\n";
      if (end == std::string_view::npos) {
        out += "  (no line end after the last line)\n";
        break;
      }
      text.remove_prefix(end + 2);
    }
  }
  return out;
}

std::string FormatCommand(std::string_view name, int32_t argument) {
  return "command " + QuotedText(protocol::Padded(name, 4)) + "  argument " +
         std::to_string(argument) + "\n";
}

std::string FormatTask(const protocol::TaskRecord& t,
                       const TaskBlocks& blocks,
                       const std::vector<OpStep>& ops) {
  std::string out;
  auto text = [&](std::string_view key, const std::string& value) {
    AppendLine(out, key, TomlString(protocol::Trimmed(value)));
  };
  auto number = [&](std::string_view key, int64_t value) {
    AppendLine(out, key, std::to_string(value));
  };
  number("window_left", t.window_left);
  number("window_top", t.window_top);
  number("window_width", t.window_width);
  number("window_height", t.window_height);
  number("console_columns", t.console_columns);
  number("console_rows", t.console_rows);
  number("job_number", t.job_number);
  number("step_number", t.step_number);
  number("priority", t.priority);
  text("user_name", t.user_name);
  // The enciphered field is binary: every byte counts, blanks included (unless all are blanks).
  AppendLine(out, "password", TomlString(protocol::Trimmed(t.password).empty() ? "" : t.password));
  text("domain", t.domain);
  text("job_name", t.job_name);
  text("working_directory", t.working_directory);
  text("console_file", t.console_file);
  text("job_base_directory", t.job_base_directory);
  text("step_directory", t.step_directory);
  number("maximum_rc", t.maximum_rc);
  number("task_rc", t.task_rc);
  number("step_minimum_rc", t.step_minimum_rc);
  number("step_maximum_rc", t.step_maximum_rc);
  number("repeat_count", t.repeat_count);
  number("file_buffer_size", t.file_buffer_size);
  number("condition_line_width", t.condition_line_width);
  number("condition_line_limit", t.condition_line_limit);
  number("picture_interval", t.picture_interval);
  number("os_version", t.os_version);
  out += "line_ends = \"keep\"\n";
  AppendLine(out, "command", TomlString(blocks.command));
  AppendLine(out, "conditions", TomlString(blocks.conditions));
  std::string_view variables = blocks.variables;
  if (!variables.empty() && static_cast<uint8_t>(variables[0]) < 32) {
    AppendLine(out, "variables_delimiter", TomlString(variables.substr(0, 1)));
    variables.remove_prefix(1);
  }
  AppendLine(out, "variables", TomlString(variables));
  out += FormatOps(ops);
  protocol::TaskRecord filled = t;
  FillBlockLengths(filled, blocks);
  if (filled.command_length != t.command_length ||
      filled.conditions_length != t.conditions_length ||
      filled.variables_length != t.variables_length) {
    out += "[raw]\n";
    number("command_length", t.command_length);
    number("conditions_length", t.conditions_length);
    number("variables_length", t.variables_length);
  }
  return out;
}

std::string StatusJson(const protocol::StatusRecord& s) {
  Json j;
  j["record"] = "status";
  j["process_handle"] = s.process_handle;
  j["thread_handle"] = s.thread_handle;
  j["process_id"] = s.process_id;
  j["thread_id"] = s.thread_id;
  j["status_text"] = Utf8FromAnsi(s.status_text);
  j["status_code"] = s.status_code;
  return Dump(j);
}

std::string ReportJson(const step::ReportRecord& record, size_t number) {
  const protocol::StepReport& r = record.report;
  Json j;
  j["record"] = "report";
  j["number"] = number;
  j["phase"] = static_cast<int>(r.phase);
  j["phase_name"] = PhaseName(r.phase);
  j["status_text"] = Utf8FromAnsi(r.status_text);
  j["status_code"] = r.status_code;
  j["current_rc"] = r.current_rc;
  j["result_flag"] = Utf8FromAnsi(FlagText(r.result_flag));
  j["start_time"] = TimeJson(r.start_time);
  j["start_time_raw"] = r.start_time;
  j["end_time"] = TimeJson(r.end_time);
  j["end_time_raw"] = r.end_time;
  j["kernel_time_100ns"] = r.kernel_time;
  j["user_time_100ns"] = r.user_time;
  j["peak_memory_kb"] = r.peak_memory_kb;
  j["memory_kb"] = r.memory_kb;
  j["io_count"] = static_cast<double>(r.io_count) / 10000.0;
  j["io_count_raw"] = r.io_count;
  j["version"] = r.version;
  j["report_text_length"] = r.report_text_length;
  j["report_text"] = Utf8FromAnsi(record.text);
  return Dump(j);
}

std::string CommandJson(std::string_view name, int32_t argument) {
  Json j;
  j["record"] = "command";
  j["name"] = Utf8FromAnsi(protocol::Padded(name, 4));
  j["argument"] = argument;
  return Dump(j);
}

Json TaskObject(const protocol::TaskRecord& t, const TaskBlocks& blocks) {
  Json j;
  j["record"] = "task";
  j["window_left"] = t.window_left;
  j["window_top"] = t.window_top;
  j["window_width"] = t.window_width;
  j["window_height"] = t.window_height;
  j["console_columns"] = t.console_columns;
  j["console_rows"] = t.console_rows;
  j["job_number"] = t.job_number;
  j["step_number"] = t.step_number;
  j["priority"] = t.priority;
  j["user_name"] = Utf8FromAnsi(protocol::Trimmed(t.user_name));
  j["password"] = Utf8FromAnsi(protocol::Trimmed(t.password).empty() ? "" : t.password);
  j["domain"] = Utf8FromAnsi(protocol::Trimmed(t.domain));
  j["job_name"] = Utf8FromAnsi(protocol::Trimmed(t.job_name));
  j["command_length"] = t.command_length;
  j["conditions_length"] = t.conditions_length;
  j["variables_length"] = t.variables_length;
  j["working_directory"] = Utf8FromAnsi(protocol::Trimmed(t.working_directory));
  j["console_file"] = Utf8FromAnsi(protocol::Trimmed(t.console_file));
  j["job_base_directory"] = Utf8FromAnsi(protocol::Trimmed(t.job_base_directory));
  j["step_directory"] = Utf8FromAnsi(protocol::Trimmed(t.step_directory));
  j["maximum_rc"] = t.maximum_rc;
  j["task_rc"] = t.task_rc;
  j["step_minimum_rc"] = t.step_minimum_rc;
  j["step_maximum_rc"] = t.step_maximum_rc;
  j["repeat_count"] = t.repeat_count;
  j["file_buffer_size"] = t.file_buffer_size;
  j["condition_line_width"] = t.condition_line_width;
  j["condition_line_limit"] = t.condition_line_limit;
  j["picture_interval"] = t.picture_interval;
  j["os_version"] = t.os_version;
  j["command"] = Utf8FromAnsi(blocks.command);
  j["conditions"] = Utf8FromAnsi(blocks.conditions);
  j["variables"] = Utf8FromAnsi(blocks.variables);
  return j;
}

std::string TaskJson(const protocol::TaskRecord& task, const TaskBlocks& blocks) {
  return Dump(TaskObject(task, blocks));
}

std::string ExitJson(int32_t exit_code) {
  Json j;
  j["record"] = "exit";
  j["exit_code"] = exit_code;
  return Dump(j);
}

std::string ErrorJson(std::string_view message) {
  Json j;
  j["record"] = "error";
  j["message"] = std::string(message);
  return Dump(j);
}

std::string ExplanationJson(std::string_view paragraph) {
  Json j;
  j["record"] = "explanation";
  j["text"] = Utf8FromAnsi(paragraph);
  return Dump(j);
}

namespace {

void DecodeReports(std::span<const uint8_t> bytes, size_t pos, RunnerStream& stream) {
  while (pos < bytes.size()) {
    size_t left = bytes.size() - pos;
    if (left < protocol::kStepReportSize) {
      stream.trailing = left;
      stream.problem =
          "the stream ends inside a step report (" + std::to_string(left) + " of 80 bytes)";
      return;
    }
    step::ReportRecord record{
        protocol::DecodeStepReport(bytes.subspan(pos).first<protocol::kStepReportSize>()), {}};
    pos += protocol::kStepReportSize;
    int32_t length = record.report.report_text_length;
    if (length > 0) {
      size_t take = std::min<size_t>(static_cast<size_t>(length), bytes.size() - pos);
      record.text.assign(reinterpret_cast<const char*>(bytes.data() + pos), take);
      pos += take;
      if (take < static_cast<size_t>(length)) {
        stream.problem = "report " + std::to_string(stream.reports.size() + 1) + " announces " +
                         std::to_string(length) + " bytes of report text but " +
                         std::to_string(take) + " follow";
        stream.reports.push_back(std::move(record));
        return;
      }
    }
    stream.reports.push_back(std::move(record));
  }
}

}  // namespace

RunnerStream DecodeRunnerStream(std::span<const uint8_t> bytes) {
  RunnerStream stream;
  if (bytes.size() < protocol::kStatusRecordSize) {
    stream.trailing = bytes.size();
    stream.problem = "the stream is shorter than a status record (" + std::to_string(bytes.size()) +
                     " of 28 bytes)";
    return stream;
  }
  stream.status = protocol::DecodeStatusRecord(bytes.first<protocol::kStatusRecordSize>());
  DecodeReports(bytes, protocol::kStatusRecordSize, stream);
  return stream;
}

RunnerStream DecodeReportStream(std::span<const uint8_t> bytes) {
  RunnerStream stream;
  DecodeReports(bytes, 0, stream);
  return stream;
}

ParentStream DecodeParentStream(std::span<const uint8_t> bytes) {
  ParentStream stream;
  if (bytes.size() < protocol::kTaskRecordSize) {
    stream.trailing = bytes.size();
    stream.problem = "the stream is shorter than a task record (" + std::to_string(bytes.size()) +
                     " of 1085 bytes)";
    return stream;
  }
  stream.task = protocol::DecodeTaskRecord(bytes.first<protocol::kTaskRecordSize>());
  size_t pos = protocol::kTaskRecordSize;
  struct Block {
    const char* name;
    int32_t length;
    std::string* text;
  };
  const Block blocks[] = {{"command", stream.task->command_length, &stream.blocks.command},
                          {"conditions", stream.task->conditions_length, &stream.blocks.conditions},
                          {"variables", stream.task->variables_length, &stream.blocks.variables}};
  for (const Block& block : blocks) {
    if (block.length <= 0)
      continue;
    size_t take = std::min<size_t>(static_cast<size_t>(block.length), bytes.size() - pos);
    block.text->assign(reinterpret_cast<const char*>(bytes.data() + pos), take);
    pos += take;
    if (take < static_cast<size_t>(block.length)) {
      stream.problem = std::string("the ") + block.name + " block announces " +
                       std::to_string(block.length) + " bytes but " + std::to_string(take) +
                       " follow";
      return stream;
    }
  }
  while (bytes.size() - pos >= protocol::kOperatorCommandSize) {
    stream.commands.push_back(protocol::DecodeOperatorCommand(
        bytes.subspan(pos).first<protocol::kOperatorCommandSize>()));
    pos += protocol::kOperatorCommandSize;
  }
  stream.trailing = bytes.size() - pos;
  if (stream.trailing > 0) {
    stream.problem = "the stream ends inside an operator command (" +
                     std::to_string(stream.trailing) + " of 8 bytes)";
  }
  return stream;
}

}  // namespace x5::ctl::text
