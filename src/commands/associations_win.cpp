// The shell's file associations through FindExecutableA, and the runner's own drive letter.
#include "commands/associations.h"

#include <windows.h>
#include <shellapi.h>
// The A/W macro would rename the interface's method.
#undef FindExecutable

#include <array>
#include <string>

#include "core/fault.h"

namespace x5::commands {
namespace {

// FindExecutableA reports success with a value above 32; the smaller values are its error codes.
constexpr INT_PTR kFoundAbove = 32;

class ShellAssociations final : public Associations {
 public:
  std::optional<std::string> FindExecutable(std::string_view document,
                                            std::string_view directory) const override {
    try {
      const std::string file(document);
      const std::string folder(directory);
      // The call writes up to MAX_PATH characters whatever buffer it is given.
      std::array<char, MAX_PATH + 1> result{};
      const auto code = reinterpret_cast<INT_PTR>(
          FindExecutableA(file.c_str(), folder.empty() ? nullptr : folder.c_str(), result.data()));
      if (code <= kFoundAbove)
        return std::nullopt;
      return std::string(result.data(), MAX_PATH);
    } catch (...) {
      core::UnexpectedFault("FindExecutable");
      return std::nullopt;
    }
  }
};

}  // namespace

std::unique_ptr<Associations> MakeShellAssociations() {
  return std::make_unique<ShellAssociations>();
}

char RunnerDriveLetter() noexcept {
  std::array<char, 32768> path{};
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length < 2 || path[1] != ':') {
    return '\0';
  }
  const char drive = path[0];
  return ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) ? drive : '\0';
}

}  // namespace x5::commands
