// The two-digit step priority code: what it sets (priority class, thread priority) and how a
// process/thread pair reads back as a code.
#include "runner/priority.h"

#include <limits>

namespace x5::runner {
namespace {

constexpr int32_t kThreadByUnits[] = {kThreadIdle,        kThreadLowest,      kThreadBelowNormal,
                                      kThreadNormal,      kThreadAboveNormal, kThreadHighest,
                                      kThreadTimeCritical};

}  // namespace

PriorityDigits SplitPriorityCode(int32_t code) noexcept {
  // In 64 bits: the smallest 32-bit code must not overflow on the way.
  int64_t units = int64_t{code} % 10;
  int64_t tens = (int64_t{code} - units) / 10;
  return {static_cast<int32_t>(tens), static_cast<int32_t>(units)};
}

PrioritySetting PriorityFromCode(int32_t code, core::OsLevel os_level) noexcept {
  PriorityDigits digits = SplitPriorityCode(code);
  // Below-normal and above-normal classes exist from OS version code 5 on.
  const bool middle_classes = os_level >= core::OsLevel::kFive;
  PrioritySetting setting;
  switch (digits.tens) {
    case 0:
      setting.priority_class = PriorityClass::kIdle;
      break;
    case 1:
      setting.priority_class =
          middle_classes ? PriorityClass::kBelowNormal : PriorityClass::kNormal;
      break;
    case 3:
      setting.priority_class =
          middle_classes ? PriorityClass::kAboveNormal : PriorityClass::kNormal;
      break;
    case 4:
      setting.priority_class = PriorityClass::kHigh;
      break;
    case 5:
      setting.priority_class = PriorityClass::kRealtime;
      break;
    default:
      setting.priority_class = PriorityClass::kNormal;
      break;
  }
  if (digits.units >= 0 && digits.units <= 6)
    setting.thread_priority = kThreadByUnits[digits.units];
  return setting;
}

int32_t ClassReadBack(PriorityClass priority_class) noexcept {
  switch (priority_class) {
    case PriorityClass::kIdle:
      return 0;
    case PriorityClass::kBelowNormal:
      return 10;
    case PriorityClass::kNormal:
      return 20;
    case PriorityClass::kAboveNormal:
      return 30;
    case PriorityClass::kHigh:
      return 40;
    case PriorityClass::kRealtime:
      return 50;
    case PriorityClass::kOther:
      break;
  }
  return 90;
}

int32_t ThreadReadBack(int32_t thread_priority) noexcept {
  for (int32_t units = 0; units < 7; ++units) {
    if (kThreadByUnits[units] == thread_priority)
      return units;
  }
  return 9;
}

int32_t PriorityCodeOf(const PriorityReadBack& read) noexcept {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const int64_t tens = read.priority_class
                           ? ClassReadBack(*read.priority_class)
                           : int64_t{read.priority_class.failure().system_code} * 1000;
  const int64_t code = tens + ThreadReadBack(read.thread_priority);
  return static_cast<int32_t>(code > kMax ? kMax : code);
}

}  // namespace x5::runner
