// The exact text of the job log block's lines.
#include "runner/job_log_lines.h"

#include <algorithm>
#include <cstdio>

#include "core/calendar.h"
#include "protocol/protocol.h"

namespace x5::runner {
namespace {

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

}  // namespace

std::string ZeroPairBlanking(std::string text) {
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '0' && text[i + 1] == '0' && !is_digit(text[i - 1]))
      text[i] = ' ';
  }
  return text;
}

std::string DurationLine(int64_t duration_100ns, std::string_view label) {
  core::LocalTime t = core::CalendarFromFileTime(duration_100ns);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%03dh %02dm %02ds %03dms", t.hour, t.minute, t.second,
                t.millisecond);
  std::string line(label);
  line += buffer;
  return ZeroPairBlanking(std::move(line));
}

std::string DateTimeText(const core::LocalTime& time) {
  std::string text = TwoDigits(time.day);
  text += '/';
  text += TwoDigits(time.month);
  text += '/';
  text += std::to_string(time.year);
  text += ' ';
  text += TwoDigits(time.hour);
  text += ':';
  text += TwoDigits(time.minute);
  text += ':';
  text += TwoDigits(time.second);
  return text;
}

std::string StartedLine(const core::LocalTime& creation) {
  return "Started " + DateTimeText(creation);
}

std::string EndedLine(const core::LocalTime& exit) {
  return "Ended   " + DateTimeText(exit);
}

std::string ExitCodeLine(uint32_t exit_code) {
  std::string line = "Exit    " + std::to_string(exit_code);
  // Status codes (0xC0000005 and the like) are known by their hexadecimal form.
  if (exit_code > 0xFFFF) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%08X)", exit_code);
    line += hex;
  }
  return line;
}

std::string IoLine(uint64_t measured_io, int32_t peak_memory_kb, int32_t process_count) {
  std::string line = "IO      ";
  line += std::to_string(measured_io);
  line += " | PeakMemory ";
  line += std::to_string(peak_memory_kb);
  line += " | Processes ";
  line += std::to_string(process_count);
  return line;
}

std::string SeparatorLine(int32_t console_columns) {
  int32_t width =
      console_columns < 0 ? kDefaultSeparatorWidth : std::min(console_columns, kMaxSeparatorWidth);
  return std::string(static_cast<size_t>(width), '_');
}

std::string IdentificationLine(std::string_view console_title, int64_t job_handle) {
  std::string line(console_title);
  if (job_handle > 0) {
    line += "  JOB# ";
    line += std::to_string(job_handle);
  }
  return line;
}

std::string CommandLogLine(std::string_view command) {
  std::string line = "Command=";
  line += command;
  return line;
}

std::string WorkDirLogLine(std::string_view working_directory) {
  std::string line = "WorkDir=";
  line += working_directory;
  return line;
}

std::string RcLine(uint32_t process_id, std::string_view status_text, int32_t status_code) {
  std::string line = "RC#";
  line += std::to_string(process_id);
  line += '=';
  line += protocol::Padded(status_text, 8);
  line += '/';
  line += std::to_string(status_code);
  return line;
}

}  // namespace x5::runner
