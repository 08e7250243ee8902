// The step's process: hold, resume, priority and kill, in its job when it has one.
#include <windows.h>

#include "runner/priority_win.h"
#include "runner/run_win.h"
#include "runner/thread_control_win.h"

namespace x5::runner {

ThreadControlOutcome StepProcess::Hold(uint8_t os_version) {
  if (!HasJob())
    return HoldMainThread(thread.get(), holds);
  ThreadControlRequest request{ThreadAction::kHold, os_version, 0};
  return ThreadControl(job.get(), request, holds);
}

ThreadControlOutcome StepProcess::Resume(uint8_t os_version) {
  if (!HasJob())
    return holds.Resume();
  ThreadControlRequest request{ThreadAction::kResume, os_version, 0};
  return ThreadControl(job.get(), request, holds);
}

void StepProcess::SetPriority(int32_t code, uint8_t os_version) {
  if (HasJob()) {
    ThreadControlRequest request{ThreadAction::kSetPriority, os_version, code};
    // A PRTY answers with the step report whatever happened: it has no field for the outcome.
    (void)ThreadControl(job.get(), request, holds);
    return;
  }
  // As in a job: the report that answers a PRTY has no field for the outcome.
  (void)SetStepPriority(process.get(), thread.get(), code, os_version);
  (void)ReadStepPriority(process.get(), thread.get());  // read back as the job's threads are
}

void StepProcess::ReadPriority(int32_t argument, uint8_t os_version) {
  if (HasJob()) {
    ThreadControlRequest request{ThreadAction::kReadPriority, os_version, argument};
    // The priority read has no field in the step report.
    (void)ThreadControl(job.get(), request, holds);
    return;
  }
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
