// Control bytes of outside texts made visible.
#include "core/shown_text.h"

#include <algorithm>

namespace x5::core {
namespace {

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

}  // namespace

void AppendShown(std::string& out, std::string_view bytes) {
  const auto controls = std::count_if(
      bytes.begin(), bytes.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); });
  out.reserve(out.size() + bytes.size() + static_cast<size_t>(controls));
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (IsControl(u)) {
      out += '^';
      out += static_cast<char>(u ^ 0x40);
    } else {
      out += c;
    }
  }
}

std::string ShownText(std::string_view bytes) {
  std::string out;
  AppendShown(out, bytes);
  return out;
}

}  // namespace x5::core
