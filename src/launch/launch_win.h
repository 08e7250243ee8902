// Carries out a launch plan: the logon, the job, the environment and the step's process, created
// suspended inside the job and then started. What it made comes back as owners.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/interfaces.h"
#include "core/result.h"
#include "core/secret_string.h"
#include "launch/identity_win.h"
#include "launch/launch_plan.h"
#include "protocol/protocol.h"
#include "win/unique_handle.h"

namespace x5::launch {

// What a launch takes besides its plan.
struct StepStart {
  core::SecretString command_line;  // passwords deciphered; wiped as soon as the create call has it
  const std::vector<std::string>& variables;  // the runner variable table
  HANDLE console_input = nullptr;             // lent: the runner console's handles
  HANDLE console_output = nullptr;
  core::Expander& expander;  // the working directory, and the profile folder of the user's hive
};

// What a launch made. The record is the launch record: the status text and code of the launch and,
// once the step runs, its handle values and ids.
struct LaunchedStep {
  // Why the step does not run (a refused logon's, a failed call's platform code), when it does not.
  core::Result<void> started;
  protocol::StatusRecord record;
  win::ScopedHandle job;  // kept when a later stage failed: the job lives until the runner ends
  win::ScopedHandle process;
  win::ScopedHandle thread;
};

// A logon's token, hive, desktop access and profile are held in `identity`, which outlives the
// call and releases them at the end of the run (or when it goes).
[[nodiscard]] LaunchedStep LaunchStep(const LaunchPlan& plan,
                                      StepStart start,
                                      StepIdentity& identity);

// Releases the user's profile and registry hive when the launch logged a user on.
void UnloadStepProfile(StepIdentity& identity) noexcept;

}  // namespace x5::launch
