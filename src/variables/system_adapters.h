// The platform's environment, clock, date names and global parameter files for the variable
// routines (system_adapters_win.cpp on Windows, system_adapters_posix.cpp natively).
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/interfaces.h"
#include "variables/date_picture.h"
#include "variables/variables.h"

namespace x5::variables {

class SystemEnvironment final : public Environment {
 public:
  std::optional<std::string> Get(std::string_view name) const override;
};

class SystemClock final : public Clock {
 public:
  core::LocalTime Now() const override;
};

// Day and month names and the general date form of the user's locale.
class SystemDateNames final : public DateNames {
 public:
  std::string DayName(const core::LocalTime& t, bool abbreviated) const override;
  std::string MonthName(const core::LocalTime& t, bool abbreviated) const override;
  std::string GeneralDateTime(const core::LocalTime& t) const override;
};

// Longest first line read from a global parameter file; a longer one counts as unreadable
// rather than being cut.
inline constexpr size_t kMaxParameterLine = 1 << 20;

// The first line of a parameter file, read in pieces by `read` (which fills the span it is given
// and answers how many bytes it put there, 0 at the end of the file, nullopt when reading failed);
// nullopt when a read failed or the line is longer than kMaxParameterLine. The readers of both
// platforms gather the line through it.
template <typename Read>
std::optional<std::string> ReadFirstLineWith(Read read) {
  std::string line;
  char buffer[4096];
  for (;;) {
    const std::optional<size_t> got = read(std::span<char>(buffer));
    if (!got)
      return std::nullopt;
    const std::string_view piece(buffer, std::min(*got, sizeof buffer));
    const size_t end = piece.find_first_of("\r\n");
    line.append(piece.substr(0, end));
    if (line.size() > kMaxParameterLine)
      return std::nullopt;
    if (piece.empty() || end != std::string_view::npos)
      return line;
  }
}

class SystemParameterFiles final : public ParameterFiles {
 public:
  [[nodiscard]] ParameterListing List(const std::string& directory, size_t max_names) override;
  [[nodiscard]] std::optional<std::string> ReadFirstLine(const std::string& path) override;
  core::Result<void> WriteAtomically(const std::string& path,
                                     std::string_view content,
                                     std::string& refusal) override;

 private:
  // The folder listed last and where it really lies (Windows only).
  std::string listed_directory_;
  std::string listed_final_;
};

}  // namespace x5::variables
