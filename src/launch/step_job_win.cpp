// The step's job object, and how a new step process gets into it before any of its code runs.
#include "launch/step_job_win.h"

namespace x5::launch {
namespace {

// PROC_THREAD_ATTRIBUTE_JOB_LIST (attribute 13, an input value): the headers offer it only to
// builds for Windows 10, and the runner also starts on older systems, which refuse it.
constexpr DWORD_PTR kJobListAttribute = 0x0002000D;

// How long a step process that is being ended on a failed launch is waited for.
constexpr DWORD kEndWaitMs = 5000;

// The system's error code of a call that failed; one that gave none still counts as a failure.
DWORD LastError(DWORD otherwise) noexcept {
  const DWORD error = GetLastError();
  return error != 0 ? error : otherwise;
}

// The failures' texts fit a string's own storage: making them never allocates.
core::Result<win::ScopedHandle> MakeJob(const char* name) noexcept {
  win::ScopedHandle made(CreateJobObjectA(nullptr, name));
  if (!made)
    return core::Failure{"no job", LastError(ERROR_INVALID_HANDLE)};
  // Another runner's job: sharing it would mix two steps and let one runner end the other's.
  if (name != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
    return core::Failure{"job exists", ERROR_ALREADY_EXISTS};
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(made.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits)))
    return core::Failure{"kill not set", LastError(ERROR_GEN_FAILURE)};
  return made;
}

}  // namespace

core::Result<win::ScopedHandle> CreateStepJob(const std::string& name) noexcept {
  core::Result<win::ScopedHandle> named = MakeJob(name.c_str());
  return named ? std::move(named) : MakeJob(nullptr);
}

JobAtCreation::JobAtCreation(HANDLE job) noexcept : job_(job) {
  if (job_ == nullptr)
    return;
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  if (size == 0 || size > sizeof(storage_))
    return;
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_);
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
    return;
  if (!UpdateProcThreadAttribute(list, 0, kJobListAttribute, &job_, sizeof(job_), nullptr,
                                 nullptr)) {
    DeleteProcThreadAttributeList(list);
    return;
  }
  ready_ = true;
}

JobAtCreation::~JobAtCreation() {
  if (ready_)
    DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_));
}

SuspendedStep::~SuspendedStep() {
  if (!process_)
    return;
  TerminateProcess(process_.get(), 1);
  WaitForSingleObject(process_.get(), kEndWaitMs);
}

core::Result<void> SuspendedStep::JoinJob(HANDLE job) noexcept {
  BOOL inside = FALSE;
  if (IsProcessInJob(process_.get(), job, &inside) && inside)
    return {};
  if (AssignProcessToJobObject(job, process_.get()))
    return {};
  return core::Failure{"not in the job", LastError(ERROR_GEN_FAILURE)};
}

core::Result<void> SuspendedStep::Start() noexcept {
  if (ResumeThread(thread_.get()) != static_cast<DWORD>(-1))
    return {};
  return core::Failure{"not resumed", LastError(ERROR_GEN_FAILURE)};
}

void SuspendedStep::Release(win::ScopedHandle& process, win::ScopedHandle& thread) noexcept {
  process = std::move(process_);
  thread = std::move(thread_);
}

}  // namespace x5::launch
