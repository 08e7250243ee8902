// Win32 implementations of the variable routines' adapters: environment, local time, locale
// names and global parameter files.
#include "variables/system_adapters.h"

#include <windows.h>

#include <algorithm>

#include "win/unique_handle.h"
#include "win/system_time_win.h"

namespace x5 {
namespace {

constexpr DWORD kLookupBuffer = 8192;
constexpr DWORD kReadPiece = 4096;

SYSTEMTIME ToSystemTime(const LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wDayOfWeek = static_cast<WORD>(DayOfWeek(t.year, t.month, t.day));
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  return st;
}

// GetDateFormatA with a picture (or a flag and no picture); empty when the call fails.
std::string DateFormat(const LocalTime& t, DWORD flags, const char* picture) {
  const SYSTEMTIME st = ToSystemTime(t);
  char buffer[256];
  int n = GetDateFormatA(LOCALE_USER_DEFAULT, flags, &st, picture, buffer, sizeof buffer);
  return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
}

int32_t LastErrorCode() {
  DWORD error = GetLastError();
  return error == 0 ? -1 : -static_cast<int32_t>(error);
}

}  // namespace

std::optional<std::string> SystemEnvironment::Get(std::string_view name) const {
  if (name.find('\0') != std::string_view::npos)
    return std::nullopt;
  const std::string key(name);
  std::string value(kLookupBuffer, '\0');
  // The value may grow between the size query and the read: ask again until it fits.
  for (int attempt = 0; attempt < 8; ++attempt) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableA(key.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return std::nullopt;
      return std::string();  // defined, empty
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.assign(n, '\0');  // n counts the terminator when the buffer was too small
  }
  return std::nullopt;  // never stable: not taken rather than taken from a stale buffer
}

LocalTime SystemClock::Now() const {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return LocalTimeFromSystemTime(st);
}

std::string SystemDateNames::DayName(const LocalTime& t, bool abbreviated) const {
  std::string name = DateFormat(t, 0, abbreviated ? "ddd" : "dddd");
  return name.empty() ? EnglishDateNames().DayName(t, abbreviated) : name;
}

std::string SystemDateNames::MonthName(const LocalTime& t, bool abbreviated) const {
  std::string name = DateFormat(t, 0, abbreviated ? "MMM" : "MMMM");
  return name.empty() ? EnglishDateNames().MonthName(t, abbreviated) : name;
}

std::string SystemDateNames::GeneralDateTime(const LocalTime& t) const {
  const std::string date = DateFormat(t, DATE_SHORTDATE, nullptr);
  const SYSTEMTIME st = ToSystemTime(t);
  char buffer[256];
  int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
  if (date.empty() || n <= 1)
    return EnglishDateNames().GeneralDateTime(t);
  return date + " " + std::string(buffer, static_cast<size_t>(n - 1));
}

std::vector<std::string> SystemParameterFiles::List(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  ScopedFindHandle find(FindFirstFileA((directory + "*.$$$").c_str(), &data));
  if (!find)
    return names;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      continue;
    // The pattern also matches through 8.3 short names; keep only real ".$$$" names.
    const std::string_view name = data.cFileName;
    if (name.size() > kGlobalParameterSuffix.size() && name.ends_with(kGlobalParameterSuffix))
      names.emplace_back(name);
  } while (FindNextFileA(find.get(), &data));
  return names;
}

std::optional<std::string> SystemParameterFiles::ReadFirstLine(const std::string& path) {
  ScopedFileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return std::nullopt;
  std::string line;
  char buffer[kReadPiece];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, kReadPiece, &got, nullptr))
      return std::nullopt;
    if (got == 0)
      return line;
    const std::string_view chunk(buffer, got);
    const size_t end = chunk.find_first_of("\r\n");
    line.append(chunk.substr(0, end));
    if (line.size() > kMaxParameterLine)
      return std::nullopt;
    if (end != std::string_view::npos)
      return line;
  }
}

int32_t SystemParameterFiles::WriteAtomically(const std::string& path, std::string_view content) {
  const size_t slash = path.find_last_of("\\/");
  const std::string directory =
      slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  char temp[MAX_PATH + 1] = {};
  // Creates an empty file with a unique name beside the target, so the move stays on one volume.
  if (GetTempFileNameA(directory.c_str(), "x5", 0, temp) == 0)
    return LastErrorCode();

  int32_t result = 1;
  {
    ScopedFileHandle file(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      result = LastErrorCode();
    } else {
      size_t done = 0;
      while (result == 1 && done < content.size()) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        DWORD put = 0;
        if (!WriteFile(file.get(), content.data() + done, piece, &put, nullptr) || put == 0)
          result = LastErrorCode();
        done += put;
      }
      if (result == 1 && !FlushFileBuffers(file.get()))
        result = LastErrorCode();
    }
  }
  if (result == 1 &&
      !MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    result = LastErrorCode();
  if (result != 1) {
    DWORD saved = GetLastError();
    DeleteFileA(temp);
    SetLastError(saved);
  }
  return result;
}

}  // namespace x5
