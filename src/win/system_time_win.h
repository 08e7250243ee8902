// The platform's broken-down time as the portable LocalTime.
#pragma once

#include <windows.h>

#include "core/interfaces.h"

namespace x5::win {

[[nodiscard]] inline core::LocalTime LocalTimeFromSystemTime(const SYSTEMTIME& st) noexcept {
  return core::LocalTime{st.wYear, st.wMonth,  st.wDay,    st.wDayOfWeek,
                         st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

}  // namespace x5::win
