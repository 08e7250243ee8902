// Doubling of quotation marks, for texts shown inside quotation marks in messages.
#include "commands/double_quotes.h"

namespace x5 {

std::string DoubleQuotes(std::string_view text) {
  std::string doubled;
  doubled.reserve(text.size() + 8);
  for (const char c : text) {
    doubled.push_back(c);
    if (c == '"') {
      doubled.push_back('"');
    }
  }
  return doubled;
}

}  // namespace x5
