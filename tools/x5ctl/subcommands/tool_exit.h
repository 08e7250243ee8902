// The exit statuses of the subcommands that do not run a step (decode, encode, explain, show-*,
// encipher-*, setup-host).
#pragma once

namespace x5::ctl::subcommands {

inline constexpr int kToolDone = 0;
inline constexpr int kToolIncomplete = 1;  // the input could not be read (or written) as a whole
inline constexpr int kToolUsage = 2;       // the options or the task file were not understood

// For the help of the subcommands that read and show.
inline constexpr const char* kToolExitStatusHelp =
    "Exit status: 0 done, 1 the input could not be read as a whole (what was read is shown),\n"
    "2 the options or the task file were not understood.";

}  // namespace x5::ctl::subcommands
