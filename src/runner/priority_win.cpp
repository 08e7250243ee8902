// Win32 side of the step priority: sets a process/thread pair from a priority code and reads the
// code it reads back as.
#include "runner/priority_win.h"

namespace x5::runner {
namespace {

DWORD ClassConstant(PriorityClass priority_class) noexcept {
  switch (priority_class) {
    case PriorityClass::kIdle:
      return IDLE_PRIORITY_CLASS;
    case PriorityClass::kBelowNormal:
      return BELOW_NORMAL_PRIORITY_CLASS;
    case PriorityClass::kAboveNormal:
      return ABOVE_NORMAL_PRIORITY_CLASS;
    case PriorityClass::kHigh:
      return HIGH_PRIORITY_CLASS;
    case PriorityClass::kRealtime:
      return REALTIME_PRIORITY_CLASS;
    case PriorityClass::kNormal:
    case PriorityClass::kOther:
      break;
  }
  return NORMAL_PRIORITY_CLASS;
}

PriorityClass ClassFromConstant(DWORD value) noexcept {
  switch (value) {
    case IDLE_PRIORITY_CLASS:
      return PriorityClass::kIdle;
    case BELOW_NORMAL_PRIORITY_CLASS:
      return PriorityClass::kBelowNormal;
    case NORMAL_PRIORITY_CLASS:
      return PriorityClass::kNormal;
    case ABOVE_NORMAL_PRIORITY_CLASS:
      return PriorityClass::kAboveNormal;
    case HIGH_PRIORITY_CLASS:
      return PriorityClass::kHigh;
    case REALTIME_PRIORITY_CLASS:
      return PriorityClass::kRealtime;
    default:
      return PriorityClass::kOther;
  }
}

static_assert(kThreadIdle == THREAD_PRIORITY_IDLE && kThreadLowest == THREAD_PRIORITY_LOWEST &&
              kThreadBelowNormal == THREAD_PRIORITY_BELOW_NORMAL &&
              kThreadNormal == THREAD_PRIORITY_NORMAL &&
              kThreadAboveNormal == THREAD_PRIORITY_ABOVE_NORMAL &&
              kThreadHighest == THREAD_PRIORITY_HIGHEST &&
              kThreadTimeCritical == THREAD_PRIORITY_TIME_CRITICAL);

}  // namespace

core::Result<void> SetStepPriority(HANDLE process,
                                   HANDLE thread,
                                   int32_t code,
                                   core::OsLevel os_level) noexcept {
  PrioritySetting setting = PriorityFromCode(code, os_level);
  bool failed = false;
  DWORD error = 0;
  if (!SetPriorityClass(process, ClassConstant(setting.priority_class))) {
    failed = true;
    error = GetLastError();
  }
  if (!SetThreadPriority(thread, setting.thread_priority) && !failed) {
    failed = true;
    error = GetLastError();
  }
  // A text short enough for a string's own storage: the failure never allocates.
  if (failed)
    return core::Failure{"priority unset", error};
  return {};
}

PriorityReadBack ReadStepPriority(HANDLE process, HANDLE thread) noexcept {
  PriorityReadBack read;
  if (const DWORD priority_class = GetPriorityClass(process); priority_class != 0) {
    read.priority_class = ClassFromConstant(priority_class);
  } else {
    // A text short enough for a string's own storage: the failure never allocates.
    const DWORD error = GetLastError();
    read.priority_class = core::Failure{"class unread", error == 0 ? ERROR_GEN_FAILURE : error};
  }
  // A failed read gives THREAD_PRIORITY_ERROR_RETURN, which reads back as 9.
  read.thread_priority = GetThreadPriority(thread);
  return read;
}

}  // namespace x5::runner
