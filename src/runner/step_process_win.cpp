// The step's process: hold, resume, priority and kill, in its job when it has one.
#include <windows.h>

#include "runner/priority_win.h"
#include "runner/run_win.h"
#include "runner/thread_control_win.h"

namespace x5::runner {

core::Result<void> StepProcess::Hold() {
  return HasJob() ? HoldJob(job.get(), holds) : HoldMainThread(thread.get(), holds);
}

core::Result<void> StepProcess::Resume() {
  return holds.Resume();
}

void StepProcess::SetPriority(int32_t code, uint8_t os_version) {
  // A PRTY answers with the step report whatever happened: it has no field for the outcome.
  if (HasJob()) {
    (void)SetJobPriority(job.get(), code, os_version);
    return;
  }
  (void)SetStepPriority(process.get(), thread.get(), code, os_version);
  (void)ReadStepPriority(process.get(), thread.get());  // read back as the job's threads are
}

void StepProcess::ReadPriority(int32_t argument) {
  // The priority read has no field in the step report.
  if (HasJob())
    (void)ReadJobPriority(job.get(), argument);
  else
    (void)ReadStepPriority(process.get(), thread.get());
}

void StepProcess::Kill(uint32_t exit_code) {
  TerminateProcess(process.get(), exit_code);
  // The job's own terminate after the step then finds nothing left.
  EndJob();
  killed = true;
}

void StepProcess::EndJob() {
  if (HasJob())
    TerminateJobObject(job.get(), 0);
}

void StepProcess::ApplyLaunchPriority(uint8_t os_version) {
  // A step whose priority cannot be set keeps the one it was created with.
  (void)SetStepPriority(process.get(), thread.get(), launch_priority, os_version);
}

}  // namespace x5::runner
