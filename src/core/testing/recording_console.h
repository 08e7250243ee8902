// A console that keeps every line written to it, for the tests, fuzz targets and benchmarks of the
// subsystems that write to the job log.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/interfaces.h"

namespace x5::core::testing {

class RecordingConsole final : public ConsoleSink {
 public:
  void Line(std::string_view text) override { lines.emplace_back(text); }
  // Every line, each followed by "\n".
  std::string All() const {
    std::string all;
    for (const std::string& line : lines)
      all += line + "\n";
    return all;
  }
  std::vector<std::string> lines;
};

}  // namespace x5::core::testing
