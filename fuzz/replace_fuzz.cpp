// Fuzzes the replace transform against a plain reference, with either folding and a size limit.
// Layout: flags byte, then find, replacement and text separated by NUL. (The replace switches'
// parameters reach it through the command line fuzz target.)
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
  if (find.empty())
    return 0;

  x5::commands::CaseFold fold;
  if ((flags & 2) != 0)
    fold.map[0xC9] = 0xE9;  // a code-page letter pair as well as ASCII
  const x5::commands::CaseFold* used = (flags & 1) != 0 ? &fold : nullptr;
  const size_t limit = (flags & 4) != 0 ? text.size() + 16 : 1 << 20;
  std::string out;
  const x5::commands::ReplaceOutcome outcome =
      x5::commands::ReplaceAll(text, find, replacement, used, limit, out);
  const std::string expected = Reference(text, find, replacement, used);
  const bool fits = expected.size() <= limit;
  Check(outcome == (fits ? x5::commands::ReplaceOutcome::kDone
                         : x5::commands::ReplaceOutcome::kTooLarge) &&
        out == (fits ? expected : ""));
  return 0;
}
