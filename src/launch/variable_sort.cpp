// The sort of the runner variable table before it becomes a step's environment block.
#include "launch/variable_sort.h"

#include <algorithm>

namespace x5::launch {

void SortVariables(std::vector<std::string>& table) noexcept {
  // Equal entries are identical texts, so any correct sort gives the one order an exchange sort
  // gives; std::sort does it without the quadratic cost. std::string compares bytes unsigned.
  std::sort(table.begin(), table.end());
}

}  // namespace x5::launch
