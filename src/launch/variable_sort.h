// The sort of the runner variable table before it becomes a step's environment block.
#pragma once

#include <string>
#include <vector>

namespace x5::launch {

// Sorts the entries ascending by character code (case-sensitive, bytes compared unsigned).
void SortVariables(std::vector<std::string>& table) noexcept;

}  // namespace x5::launch
