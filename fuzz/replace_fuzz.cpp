// Fuzzes the replace transform against a plain reference, and the replace switch parameters
// against in-memory files. Layout: flags byte, then find, replacement and text separated by NUL.
#include "commands/testing/commands_test_support.h"
#include "commands/replace_in_file.h"
#include "commands/replace_text.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

namespace {

std::string Reference(std::string_view text,
                      std::string_view find,
                      std::string_view replacement,
                      const x5::commands::CaseFold* fold) {
  const auto same = [&](char a, char b) {
    return fold == nullptr ? a == b
                           : (*fold)(static_cast<uint8_t>(a)) == (*fold)(static_cast<uint8_t>(b));
  };
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    bool match = i + find.size() <= text.size();
    for (size_t k = 0; match && k < find.size(); ++k)
      match = same(text[i + k], find[k]);
    if (match) {
      out.append(replacement);
      i += find.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string_view NextField(std::string_view& rest) {
  const size_t end = rest.find('\0');
  const std::string_view field = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 13)
    return 0;
  const uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view find = NextField(rest);
  const std::string_view replacement = NextField(rest);
  const std::string_view text = rest;

  x5::commands::CaseFold fold;
  if ((flags & 2) != 0) {
    fold.map[0xC9] = 0xE9;  // a code-page letter pair as well as ASCII
  }
  const x5::commands::CaseFold* used = (flags & 1) != 0 ? &fold : nullptr;
  const size_t limit = (flags & 4) != 0 ? text.size() + 16 : 1 << 20;
  if (!find.empty()) {
    std::string out;
    const x5::commands::ReplaceOutcome outcome =
        x5::commands::ReplaceAll(text, find, replacement, used, limit, out);
    const std::string expected = Reference(text, find, replacement, used);
    if (expected.size() <= limit) {
      Check(outcome == x5::commands::ReplaceOutcome::kDone && out == expected);
    } else {
      Check(outcome == x5::commands::ReplaceOutcome::kTooLarge && out.empty());
    }
  }

  // The same bytes as switch parameters: results stay in range, files change only when saved.
  x5::commands::testing::CommandWorld world;
  world.files.files = {{"f.txt", std::string(text)}, {"a", "aaa"}};
  const std::string parameters(find);
  const int32_t first =
      x5::commands::EditFile(world.edit, static_cast<x5::commands::EditRequest>(flags & 1),
                             parameters, world.files, fold, limit);
  Check(first >= -7 && first <= 2);
  Check(world.files.files["f.txt"] == text && world.files.files["a"] == "aaa");
  Check((first == 1) == !world.edit.file_name.empty());
  const int32_t second =
      x5::commands::EditFile(world.edit, x5::commands::EditRequest::kReplaceExact,
                             std::string(replacement), world.files, fold, limit);
  Check(second >= -9 && second <= 2);
  const bool pending = !world.edit.file_name.empty();
  const std::string name = world.edit.file_name;
  const std::string buffer = world.edit.buffer;
  const int32_t saved = x5::commands::SaveEdit(world.edit, world.files);
  Check(saved == (pending ? 3 : 0));
  Check(!pending || world.files.files[name] == buffer);
  return 0;
}
