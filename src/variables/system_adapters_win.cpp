// Win32 implementations of the variable routines' adapters: environment, local time, locale
// names and global parameter files.
#include "variables/system_adapters.h"

#include <windows.h>

#include <algorithm>

#include "core/calendar.h"

#include "win/job_folder.h"
#include "win/job_folder_win.h"
#include "win/system_time_win.h"
#include "win/unique_handle.h"

namespace x5::variables {
namespace {

constexpr DWORD kLookupBuffer = 8192;

SYSTEMTIME ToSystemTime(const core::LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wDayOfWeek = static_cast<WORD>(core::DayOfWeek(t.year, t.month, t.day));
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  return st;
}

// GetDateFormatA with a picture (or a flag and no picture); empty when the call fails.
std::string DateFormat(const core::LocalTime& t, DWORD flags, const char* picture) {
  const SYSTEMTIME st = ToSystemTime(t);
  char buffer[256];
  int n = GetDateFormatA(LOCALE_USER_DEFAULT, flags, &st, picture, buffer, sizeof buffer);
  return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
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

core::LocalTime SystemClock::Now() const {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return win::LocalTimeFromSystemTime(st);
}

std::string SystemDateNames::DayName(const core::LocalTime& t, bool abbreviated) const {
  std::string name = DateFormat(t, 0, abbreviated ? "ddd" : "dddd");
  return name.empty() ? EnglishDateNames().DayName(t, abbreviated) : name;
}

std::string SystemDateNames::MonthName(const core::LocalTime& t, bool abbreviated) const {
  std::string name = DateFormat(t, 0, abbreviated ? "MMM" : "MMMM");
  return name.empty() ? EnglishDateNames().MonthName(t, abbreviated) : name;
}

std::string SystemDateNames::GeneralDateTime(const core::LocalTime& t) const {
  const std::string date = DateFormat(t, DATE_SHORTDATE, nullptr);
  const SYSTEMTIME st = ToSystemTime(t);
  char buffer[256];
  int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
  if (date.empty() || n <= 1)
    return EnglishDateNames().GeneralDateTime(t);
  return date + " " + std::string(buffer, static_cast<size_t>(n - 1));
}

ParameterListing SystemParameterFiles::List(const std::string& directory, size_t max_names) {
  ParameterListing listing;
  const std::string pattern = directory + "*.$$$";
  win::JobFolder folder = win::JobFolder::Open(directory, pattern, "read");
  if (!folder) {
    listing.refusal = folder.Failure().refusal;
    return listing;
  }
  listed_directory_ = directory;
  listed_final_ = folder.FinalPath();
  WIN32_FIND_DATAA data{};
  win::ScopedFindHandle find(FindFirstFileA(pattern.c_str(), &data));
  if (!find)
    return listing;
  do {
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
      continue;
    // The pattern also matches through 8.3 short names; keep only real ".$$$" names.
    const std::string_view name = data.cFileName;
    if (name.size() <= kGlobalParameterSuffix.size() || !name.ends_with(kGlobalParameterSuffix))
      continue;
    if (listing.names.size() < max_names)
      listing.names.emplace_back(name);
    else
      ++listing.left_out;
  } while (FindNextFileA(find.get(), &data));
  return listing;
}

std::optional<std::string> SystemParameterFiles::ReadFirstLine(const std::string& path) {
  // A parameter file that leads out of its folder would hand the step a line of a file it may not
  // read itself: such a file counts as unreadable.
  const std::optional<win::FolderAndName> split = win::SplitFolderAndName(win::AbsolutePath(path));
  if (!split)
    return std::nullopt;
  // The folder listed last is known by its final path already: each file is checked against it.
  win::ScopedFileHandle file =
      !listed_final_.empty() && path.size() > listed_directory_.size() &&
              path.compare(0, listed_directory_.size(), listed_directory_) == 0
          ? win::OpenForReadingIn(listed_final_, path)
          : win::JobFolder::Open(split->folder).OpenForReading(split->name);
  if (!file)
    return std::nullopt;
  return ReadFirstLineWith([&](std::span<char> into) -> std::optional<size_t> {
    DWORD got = 0;
    if (!ReadFile(file.get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr))
      return std::nullopt;
    return got;
  });
}

core::Result<void> SystemParameterFiles::WriteAtomically(const std::string& path,
                                                         std::string_view content,
                                                         std::string& refusal) {
  refusal.clear();
  const std::optional<win::FolderAndName> split = win::SplitFolderAndName(win::AbsolutePath(path));
  if (!split)
    return core::Failure{"the parameter file's name is no file name", ERROR_INVALID_NAME};
  // Written beside the target and renamed over it, neither through a link.
  win::JobFolder folder = win::JobFolder::Open(split->folder, path);
  win::JobFileOutcome outcome = folder.Replace(split->name, win::TemporaryNameFor(split->name),
                                               {win::AsBytes(content)}, true);
  refusal = std::move(outcome.refusal);
  if (!outcome.Done())
    return core::Failure{"the parameter file cannot be written", outcome.error};
  return {};
}

}  // namespace x5::variables
