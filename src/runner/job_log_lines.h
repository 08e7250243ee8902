// The exact text of the job log block's lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/interfaces.h"
#include "runner/accounting.h"

namespace x5::runner {

// Replaces the first zero of every "00" that follows a non-digit by a blank, left to right, each
// replacement visible to the next position: "000h" -> "  0h", "007ms" -> " 07ms", "05s" stays.
std::string ZeroPairBlanking(std::string text);

// "Kernel " / "User   " duration line: hours within a day, minutes, seconds, milliseconds,
// zero pairs blanked. A negative duration counts as 0.
std::string DurationLine(int64_t duration_100ns, std::string_view label);
inline constexpr std::string_view kKernelLabel = "Kernel ";
inline constexpr std::string_view kUserLabel = "User   ";

// "dd/mm/yyyy hh:mm:ss".
std::string DateTimeText(const core::LocalTime& time);
// "Started dd/mm/yyyy hh:mm:ss" and "Ended   dd/mm/yyyy hh:mm:ss".
std::string StartedLine(const core::LocalTime& creation);
std::string EndedLine(const core::LocalTime& exit);
// "Exit    <code>": the exit code of the step's main process, which no other line shows (the RC
// line holds the wait result); large codes also in hexadecimal, as system status codes are known.
std::string ExitCodeLine(uint32_t exit_code);

// "IO      <io> | PeakMemory <kb> | Processes <n>".
std::string IoLine(uint64_t measured_io, int32_t peak_memory_kb, int32_t process_count);

// Used when the task gives no console size (negative columns).
inline constexpr int32_t kDefaultSeparatorWidth = 80;
// No console buffer is wider than this; larger column counts are cut to it.
inline constexpr int32_t kMaxSeparatorWidth = 32767;
// As many "_" as the console has columns; 0 columns give the empty line, negative columns
// (no console size given) the default width.
std::string SeparatorLine(int32_t console_columns);

// The console title, followed by "  JOB# <handle>" when there is a job object (handle above 0).
std::string IdentificationLine(std::string_view console_title, int64_t job_handle);

// "Command=<text>" and "WorkDir=<text>": the caller passes the text already expanded/resolved.
std::string CommandLogLine(std::string_view command);
std::string WorkDirLogLine(std::string_view working_directory);

// "RC#<pid>=<status text, 8 characters>/<status code>".
std::string RcLine(uint32_t process_id, std::string_view status_text, int32_t status_code);

}  // namespace x5::runner
