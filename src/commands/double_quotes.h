// Doubling of quotation marks, for texts shown inside quotation marks in messages.
#pragma once

#include <string>
#include <string_view>

namespace x5 {

// Returns `text` with every double quote written twice.
[[nodiscard]] std::string DoubleQuotes(std::string_view text);

}  // namespace x5
