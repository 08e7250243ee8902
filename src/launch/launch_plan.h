// What a launch will do, decided from the task record and the OS version code alone: the logon,
// the startup information, the job, the environment and the creation flags. The Win32 launch
// carries a plan out; keeping the choices here lets them be read and tested without it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/os_level.h"
#include "protocol/protocol.h"

namespace x5::launch {

// The platform's values of the flags a plan names (the Win32 launch checks them against its
// headers).
inline constexpr uint32_t kCreateSuspended = 0x4;
inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kCreateNewProcessGroup = 0x200;
inline constexpr uint32_t kCreateUnicodeEnvironment = 0x400;
inline constexpr uint32_t kStartUseSize = 0x2;
inline constexpr uint32_t kStartUsePosition = 0x4;
inline constexpr uint32_t kStartUseCountChars = 0x8;
inline constexpr uint32_t kStartUseStdHandles = 0x100;

inline constexpr uint32_t kPauseBeforeIdleMs = 2000;
inline constexpr uint32_t kInputIdleWaitMs = 10000;

enum class LogonChoice : uint8_t {
  kNone,     // the runner's own account: "NO LOGON"
  kRefused,  // a logon without a user name: refused, as the system refuses an unknown user
  kLogOn,    // the task's user is logged on
};

enum class EnvironmentRule : uint8_t {
  // The runner's own environment, with the variable table applied to it, is inherited.
  kRunnerEnvironment,
  // An explicit block: the user's profile environment merged with the variable table.
  kUserBlock,
};

// The values of the step's startup information.
struct StartupValues {
  std::string desktop = "winsta0\\default";
  std::string title;  // the user name field, all 40 characters: the step console's title
  uint32_t flags = kStartUseStdHandles;
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t columns = 0;
  uint32_t rows = 0;
  bool console_handles = false;  // standard handles: the runner console's, else null
};

struct LaunchPlan {
  LogonChoice logon = LogonChoice::kNone;
  std::string user;                 // trimmed
  std::string logon_domain;         // empty for the local form "$...$"
  std::string hive_account;         // the account whose hive is loaded
  std::string enciphered_password;  // the task's password field, all 40 characters
  StartupValues startup;
  std::string working_directory;  // trimmed; expanded at launch with passwords deciphered
  bool job = false;               // the step runs only inside a kill-on-close job
  std::string job_name;           // asked for; an unnamed job when the name cannot be had
  EnvironmentRule environment = EnvironmentRule::kRunnerEnvironment;
  uint32_t creation_flags = 0;
  bool redirection_off = false;    // file-system redirection off around the create call
  uint32_t pause_before_idle = 0;  // ms slept before the wait for input idle
  bool wait_for_idle = false;      // wait up to kInputIdleWaitMs for the step to be idle
};

// `os_level` is what the effective OS version code (64 on a 64-bit system) selects; `job_name`
// the console title.
[[nodiscard]] LaunchPlan PlanLaunch(const protocol::TaskRecord& task,
                                    core::OsLevel os_level,
                                    std::string_view job_name);

}  // namespace x5::launch
