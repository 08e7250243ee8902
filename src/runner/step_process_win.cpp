// The step's process: launch, hold, resume, priority and kill, in its job when it has one, and
// its close at the end of the run.
#include <windows.h>

#include <utility>

#include "runner/priority_win.h"
#include "runner/run_win.h"
#include "runner/thread_control_win.h"

namespace x5::runner {

core::Result<void> StepProcess::Launch(const launch::LaunchPlan& plan, launch::StepStart start) {
  launch::LaunchedStep launched = launch::LaunchStep(plan, std::move(start), identity_);
  record = std::move(launched.record);
  job_ = std::move(launched.job);
  process_ = std::move(launched.process);
  thread_ = std::move(launched.thread);
  return std::move(launched.started);
}

std::optional<uint32_t> StepProcess::ExitCode() const {
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process_.get(), &exit_code))
    return std::nullopt;
  return exit_code;
}

core::Result<void> StepProcess::Hold() {
  return HasJob() ? HoldJob(job_.get(), holds_) : HoldMainThread(thread_.get(), holds_);
}

core::Result<void> StepProcess::Resume() {
  return holds_.Resume();
}

void StepProcess::SetPriority(int32_t code, core::OsLevel os_level) {
  // A PRTY answers with the step report whatever happened: it has no field for the outcome.
  if (HasJob()) {
    (void)SetJobPriority(job_.get(), code, os_level);
    return;
  }
  (void)SetStepPriority(process_.get(), thread_.get(), code, os_level);
  (void)ReadStepPriority(process_.get(), thread_.get());  // read back as the job's threads are
}

void StepProcess::ReadPriority(int32_t argument) {
  // The priority read has no field in the step report.
  if (HasJob())
    (void)ReadJobPriority(job_.get(), argument);
  else
    (void)ReadStepPriority(process_.get(), thread_.get());
}

void StepProcess::Kill(uint32_t exit_code) {
  TerminateProcess(process_.get(), exit_code);
  // The job's own terminate after the step then finds nothing left.
  EndJob();
  killed = true;
}

void StepProcess::EndJob() {
  if (HasJob())
    TerminateJobObject(job_.get(), 0);
}

void StepProcess::CloseMainProcess() {
  thread_.reset();
  process_.reset();
  record.process_id = 0;
  // Nothing the runner suspended may outlive it, whichever way the step ended.
  holds_.ResumeAllHeld();
}

void StepProcess::Close() {
  job_.reset();
  launch::UnloadStepProfile(identity_);
}

void StepProcess::ApplyLaunchPriority(core::OsLevel os_level) {
  // A step whose priority cannot be set keeps the one it was created with.
  (void)SetStepPriority(process_.get(), thread_.get(), launch_priority, os_level);
}

}  // namespace x5::runner
