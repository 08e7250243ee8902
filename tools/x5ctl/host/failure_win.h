// How x5ctl's Windows host files word a failure: the system's code, or the job-folder helper's
// refusal.
#pragma once

#include <windows.h>

#include <string>

#include "core/result.h"
#include "win/job_folder_win.h"

namespace x5::ctl::host {

inline core::Failure SystemFailure(const std::string& what, DWORD code = GetLastError()) {
  return core::Failure{what + " (error " + std::to_string(code) + ")", code};
}

// The refusal of the job-folder helper, or the system's code.
inline core::Failure OutcomeFailure(const std::string& what, const win::JobFileOutcome& outcome) {
  if (outcome.Refused())
    return core::Failure{outcome.refusal, outcome.error};
  return SystemFailure(what, outcome.error);
}

}  // namespace x5::ctl::host
