// Small interfaces that several subsystems use to ask the outside world (the Win32 side implements
// them; tests pass fakes). Each is named by what the caller needs; an interface with one user lives
// beside that user.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/secret_string.h"

namespace x5::core {

// One line to the runner's console (the job log). The line end is added by the sink.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  virtual void Line(std::string_view text) = 0;
};

// Local wall-clock time, broken down.
struct LocalTime {
  int year = 0;
  int month = 0;        // 1..12
  int day = 0;          // 1..31
  int day_of_week = 0;  // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// One text expanded twice in a single pass, each reference resolved once: with passwords
// deciphered (for the step, or a file a switch edits) and with them masked as "*****" (for
// everything shown). The two differ only where a password was deciphered.
struct Expansion {
  // Where a password stands: at `shown_at` in the shown text (as "*****") and at `deciphered_at`
  // in the deciphered one, `deciphered_size` bytes long.
  struct Password {
    size_t shown_at = 0;
    size_t deciphered_at = 0;
    size_t deciphered_size = 0;
  };
  static constexpr size_t kMaskSize = 5;

  SecretString deciphered;
  std::string shown;
  std::vector<Password> passwords;  // in text order

  // The place in the deciphered text of a place in the shown one: the same text lies before both
  // apart from the passwords. npos for npos, and for a place inside a mask, which has none.
  size_t DecipheredPosition(size_t shown_position) const noexcept {
    if (shown_position == std::string::npos)
      return std::string::npos;
    size_t deciphered = shown_position;
    for (const Password& p : passwords) {
      if (shown_position <= p.shown_at)
        break;
      if (shown_position < p.shown_at + kMaskSize)
        return std::string::npos;
      deciphered = deciphered - kMaskSize + p.deciphered_size;
    }
    return deciphered;
  }
};

// Variable expansion over the runner variable table, the environment and the clock.
class Expander {
 public:
  virtual ~Expander() = default;
  // Passwords masked.
  virtual std::string Expand(std::string_view text, bool quote_empty) = 0;
  // Passwords deciphered, and the same text masked.
  virtual Expansion ExpandDeciphered(std::string_view text, bool quote_empty) = 0;
  // A text that already holds deciphered passwords, expanded again with passwords masked: what
  // comes back is still secret.
  virtual SecretString ExpandSecret(const SecretString& text, bool quote_empty) = 0;
};

// What became of a variable handed to the runner variable table.
enum class Added : uint8_t {
  kDefined,         // in the table; a global parameter in its file as well
  kFileNotWritten,  // in the table, but its global parameter's file was not written
  kNotDefined,      // not in the table: its name cannot be a variable's, or memory ran out
  kNotEnciphered,   // a password that cannot be enciphered: nothing was stored
};

// The one way into the runner variable table (writes a global parameter's file as well).
class VariableStore {
 public:
  virtual ~VariableStore() = default;
  virtual Added AddVariable(std::string_view name, std::string_view value) = 0;
  // Stores a deciphered text as a password variable (enciphered after the password marker, as
  // SETP values are). A store that is never given a password keeps nothing.
  virtual Added AddPassword(std::string_view /*name*/, std::string_view /*plain*/) {
    return Added::kNotEnciphered;
  }
};

}  // namespace x5::core
