// The step's environment from the runner variable table: the changes to the runner's own
// environment that a step without a logon inherits, and for a step under another user's logon the
// user's profile environment merged with the table into the UTF-16 block it is created with.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/secret_string.h"

namespace x5::launch {

// The most of a user environment block that is read; a block without its end stops here.
inline constexpr size_t kUserBlockMaxBytes = 20000;
inline constexpr size_t kUserBlockMaxUnits = kUserBlockMaxBytes / 2;

// A UTF-16 environment block. It may hold deciphered passwords, so its memory is wiped when it is
// released (a vector has no inline buffer that the allocator would miss).
using EnvironmentBlock = std::vector<char16_t, core::WipingAllocator<char16_t>>;

// Conversion between the block's UTF-16 text and the runner's ANSI text.
class BlockText {
 public:
  virtual ~BlockText() = default;
  [[nodiscard]] virtual std::string Narrow(std::u16string_view units) const = 0;
  // Appends the text, widened, to the block (straight into it, so no copy of a secret is left).
  virtual void AppendWide(std::string_view text, EnvironmentBlock& block) const = 0;
};

// Each unit's low byte, and each byte widened as it is: exact for ASCII text.
class ByteBlockText final : public BlockText {
 public:
  [[nodiscard]] std::string Narrow(std::u16string_view units) const override;
  void AppendWide(std::string_view text, EnvironmentBlock& block) const override;
};

// Deciphers the part of a password variable's value after its marker.
using PasswordDecipher = std::function<core::SecretString(std::string_view enciphered)>;

// One change the variable table makes to the runner's own environment.
struct EnvironmentEdit {
  std::string name;
  std::optional<core::SecretString> value;  // none: the variable is removed
};

// The changes, in table order (so later entries override earlier ones), for the entries with a
// name before their first "=": an empty value removes the name, a password value sets it
// deciphered (a password that does not decipher is not handed on as an empty value: it removes the
// name), any other value sets it.
[[nodiscard]] std::vector<EnvironmentEdit> RunnerEnvironmentEdits(
    const std::vector<std::string>& table,
    const PasswordDecipher& decipher);

// The name of a "NAME=value" entry: the text before the first "=" that is not its first
// character (as the platform names "=C:=C:\dir"); empty when the entry has no such "=".
std::string_view EntryName(std::string_view entry) noexcept;

// The entries of a user environment block, as ANSI text. Entries end at a NUL unit; an empty entry
// (two NULs in a row, or a NUL first) ends the block; at most `max_units` units are looked at, and
// an entry that the limit cuts is dropped. A null block has no entries.
[[nodiscard]] std::vector<std::string> ReadUserEnvironment(const char16_t* block,
                                                           const BlockText& text,
                                                           size_t max_units = kUserBlockMaxUnits);

// Appends the profile's entries to the table, except those whose name a table entry that existed
// before the merge defines (names compared without regard to case): the runner's definition wins.
// Profile entries without a name are appended as they are (the block leaves them out).
void MergeUserEnvironment(std::vector<std::string>& table,
                          std::span<const std::string> profile_entries);

// Blanks every entry whose name a later entry defines again: the last definition wins.
void RemoveDuplicateNames(std::vector<std::string>& table);

// The block of the entries that are not empty, have a name and a value: a password value
// contributes its deciphered text (nothing when it does not decipher), other entries themselves.
// Each entry ends with a NUL, the block with one more; an empty block is two NULs.
[[nodiscard]] EnvironmentBlock BuildEnvironmentBlock(const std::vector<std::string>& table,
                                                     const PasswordDecipher& decipher,
                                                     const BlockText& text);

// The step's block: the user's entries merged into a copy of the runner variable table, the
// duplicates removed, the result sorted and built. The runner's own table stays as it is, so
// later variable expansion sees the same definitions whichever way the step was started.
[[nodiscard]] EnvironmentBlock StepEnvironmentBlock(const std::vector<std::string>& table,
                                                    const char16_t* user_block,
                                                    const PasswordDecipher& decipher,
                                                    const BlockText& text);

}  // namespace x5::launch
