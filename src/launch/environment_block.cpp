// The environment of a step that runs under another user's logon: the user's profile environment
// merged with the runner variable table, and the UTF-16 block the step is created with.
#include "launch/environment_block.h"

#include "launch/variable_sort.h"
#include "variables/variables.h"

namespace x5 {
namespace {

char FoldAscii(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i]))
      return false;
  }
  return true;
}

}  // namespace

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
  const size_t runner_count = table.size();
  for (const std::string& entry : profile_entries) {
    const std::string_view name = EntryName(entry);
    bool defined = false;
    if (!name.empty()) {
      for (size_t i = 0; i < runner_count && !defined; ++i)
        defined = SameName(EntryName(table[i]), name);
    }
    if (!defined)
      table.push_back(entry);
  }
}

void RemoveDuplicateNames(std::vector<std::string>& table) {
  for (size_t later = table.size(); later-- > 1;) {
    const std::string_view name = EntryName(table[later]);
    if (name.empty())
      continue;
    for (size_t earlier = 0; earlier < later; ++earlier) {
      if (SameName(EntryName(table[earlier]), name))
        table[earlier].clear();
    }
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
    if (value.front() == kPasswordMarker) {
      if (value.size() < 2 || !decipher)
        continue;
      const SecretString plain = decipher(value.substr(1));
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
  mSimpleSort::SortVariables(merged);
  return BuildEnvironmentBlock(merged, decipher, text);
}

}  // namespace x5
