// The status texts of the status record and the step reports, as the parent reads them. On the wire
// a status text is blank padded to 8 characters (Padded); these are the trimmed forms parents
// compare. The lines of the report text are in report_texts.h.
#pragma once

#include <string_view>

namespace x5::protocol {

// The runner's answer to the task record.
inline constexpr std::string_view kStatusStarted = "Started ";

// The step ran and its process was waited for.
inline constexpr std::string_view kStatusStepOk = "STEP OK";
// The step ran, but waiting for its process failed.
inline constexpr std::string_view kStatusStepWaitFailed = "STEP ?";
// The step ran, but its console file could not be written.
inline constexpr std::string_view kStatusConsoleFileFailed = "FILE ?";
// The return-code rules before the launch skipped the step or ended the job.
inline constexpr std::string_view kStatusNotRun = "RC <>";
// No command line remained after the switches and variables.
inline constexpr std::string_view kStatusNoCommand = "Null CMD";
// The task's maximum RC is 0, which the runner refuses.
inline constexpr std::string_view kStatusMaximumRcZero = "RC = 0";
// The runner could not open its console.
inline constexpr std::string_view kStatusNoConsole = "CONSOLE?";
// Launch failures: the step's process did not start, its user could not be logged on, its
// profile could not be loaded.
inline constexpr std::string_view kStatusNotStarted = "STEP=?";
inline constexpr std::string_view kStatusLogonFailed = "LOGON ?";
inline constexpr std::string_view kStatusProfileFailed = "PROFILE?";
// The launch's own record on the way: the user logged on, or no logon asked for.
inline constexpr std::string_view kStatusLogonOk = "LOGON OK";
inline constexpr std::string_view kStatusNoLogon = "NO LOGON";

}  // namespace x5::protocol
