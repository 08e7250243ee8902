// The step's environment from the runner variable table: the changes a step without a logon
// inherits, and the UTF-16 block of a step under another user's logon.
#include "launch/environment_block.h"

#include <unordered_set>

#include "core/ascii_text.h"
#include "launch/variable_sort.h"
#include "variables/variables.h"

namespace x5::launch {

std::string ByteBlockText::Narrow(std::u16string_view units) const {
  std::string text(units.size(), '\0');
  for (size_t i = 0; i < units.size(); ++i)
    text[i] = static_cast<char>(units[i] & 0xFF);
  return text;
}

void ByteBlockText::AppendWide(std::string_view text, EnvironmentBlock& block) const {
  for (char c : text)
    block.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

std::vector<EnvironmentEdit> RunnerEnvironmentEdits(const std::vector<std::string>& table,
                                                    const PasswordDecipher& decipher) {
  std::vector<EnvironmentEdit> edits;
  edits.reserve(table.size());
  for (const std::string& entry : table) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || eq == 0)
      continue;
    EnvironmentEdit& edit = edits.emplace_back();
    edit.name = entry.substr(0, eq);
    const std::string_view value = std::string_view(entry).substr(eq + 1);
    if (value.empty())
      continue;
    if (value.front() != variables::kPasswordMarker) {
      edit.value.emplace(value);
      continue;
    }
    core::SecretString plain =
        value.size() > 1 && decipher ? decipher(value.substr(1)) : core::SecretString();
    if (!plain.Empty())
      edit.value.emplace(std::move(plain));
  }
  return edits;
}

std::string_view EntryName(std::string_view entry) noexcept {
  const size_t eq = entry.size() > 1 ? entry.find('=', 1) : std::string_view::npos;
  return eq == std::string_view::npos ? std::string_view{} : entry.substr(0, eq);
}

std::vector<std::string> ReadUserEnvironment(const char16_t* block,
                                             const BlockText& text,
                                             size_t max_units) {
  std::vector<std::string> entries;
  if (block == nullptr)
    return entries;
  size_t pos = 0;
  while (pos < max_units && block[pos] != u'\0') {
    size_t end = pos;
    while (end < max_units && block[end] != u'\0')
      ++end;
    if (end == max_units)
      break;  // cut by the limit: not a whole entry
    entries.push_back(text.Narrow(std::u16string_view(block + pos, end - pos)));
    pos = end + 1;
  }
  return entries;
}

void MergeUserEnvironment(std::vector<std::string>& table,
                          std::span<const std::string> profile_entries) {
  // One pass over each list: tables grown by thousands of global parameters stay fast.
  std::unordered_set<std::string> runner_names;
  runner_names.reserve(table.size());
  for (const std::string& entry : table) {
    const std::string_view name = EntryName(entry);
    if (!name.empty())
      runner_names.insert(core::UpperAscii(name));
  }
  for (const std::string& entry : profile_entries) {
    const std::string_view name = EntryName(entry);
    if (name.empty() || !runner_names.contains(core::UpperAscii(name)))
      table.push_back(entry);
  }
}

void RemoveDuplicateNames(std::vector<std::string>& table) {
  // From the end, so the first time a name is seen is its last definition.
  std::unordered_set<std::string> seen;
  seen.reserve(table.size());
  for (size_t i = table.size(); i-- > 0;) {
    const std::string_view name = EntryName(table[i]);
    if (!name.empty() && !seen.insert(core::UpperAscii(name)).second)
      table[i].clear();
  }
}

EnvironmentBlock BuildEnvironmentBlock(const std::vector<std::string>& table,
                                       const PasswordDecipher& decipher,
                                       const BlockText& text) {
  EnvironmentBlock block;
  size_t total = 2;
  for (const std::string& entry : table)
    total += entry.size() + 1;
  // Room for deciphered passwords too, so the block is not copied (and left unwiped) as it grows.
  block.reserve(total + 256);
  for (const std::string& entry : table) {
    const std::string_view name = EntryName(entry);
    if (name.empty() || entry.size() == name.size() + 1)
      continue;
    const std::string_view value = std::string_view(entry).substr(name.size() + 1);
    if (value.front() == variables::kPasswordMarker) {
      if (value.size() < 2 || !decipher)
        continue;
      const core::SecretString plain = decipher(value.substr(1));
      if (plain.Empty())
        continue;  // a password that does not decipher is not handed on as an empty value
      text.AppendWide(std::string_view(entry).substr(0, name.size() + 1), block);
      text.AppendWide(plain.View(), block);
    } else {
      text.AppendWide(entry, block);
    }
    block.push_back(u'\0');
  }
  if (block.empty())
    block.push_back(u'\0');
  block.push_back(u'\0');
  return block;
}

EnvironmentBlock StepEnvironmentBlock(const std::vector<std::string>& table,
                                      const char16_t* user_block,
                                      const PasswordDecipher& decipher,
                                      const BlockText& text) {
  std::vector<std::string> merged = table;
  const std::vector<std::string> profile = ReadUserEnvironment(user_block, text);
  MergeUserEnvironment(merged, profile);
  RemoveDuplicateNames(merged);
  SortVariables(merged);
  return BuildEnvironmentBlock(merged, decipher, text);
}

}  // namespace x5::launch
