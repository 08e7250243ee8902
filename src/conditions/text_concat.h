// Joining message pieces into one text (one allocation; also avoids GCC 12's false -Wrestrict
// reports on chains of string operator+).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace x5::conditions {

inline std::string Concat(std::initializer_list<std::string_view> pieces) {
  size_t size = 0;
  for (std::string_view p : pieces)
    size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : pieces)
    out.append(p);
  return out;
}

}  // namespace x5::conditions
