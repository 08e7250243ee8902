// What the Win32 benchmark drivers share: a microsecond clock, order statistics, whole-record
// pipe reads and writes, and the figure lines scripts/bench gathers.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace x5::bench {

inline double NowUs() {
  static const LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1e6 / static_cast<double>(freq.QuadPart);
}

// The value at fraction p (0..1) of the sorted figures; 0 for none.
inline double Percentile(std::vector<double> v, double p) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

inline double Median(std::vector<double> v) {
  return Percentile(std::move(v), 0.5);
}

inline bool ReadExact(HANDLE h, void* into, DWORD size) {
  DWORD got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!ReadFile(h, static_cast<char*>(into) + got, size - got, &n, nullptr) || n == 0) {
      return false;
    }
    got += n;
  }
  return true;
}

inline bool WriteAll(HANDLE h, const void* data, DWORD size) {
  DWORD n = 0;
  return WriteFile(h, data, size, &n, nullptr) && n == size;
}

// One figure for scripts/bench's table: what it is, the measured ratio and the goal ("<= 1.3").
inline void PrintFigure(const char* what, double ratio, const char* goal) {
  std::printf("figure: %s | %.2f | %s\n", what, ratio, goal);
}

}  // namespace x5::bench
