// In-memory stand-ins for the variable routines' outside world, shared by their tests, fuzz
// targets and benchmark.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/ascii_text.h"
#include "core/testing/recording_console.h"
#include "variables/variables.h"

namespace x5::variables::testing {

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(core::UpperAscii(x)) <
             static_cast<unsigned char>(core::UpperAscii(y));
    });
  }
};

// Names compare without regard to case, as on Windows.
class FakeEnvironment final : public Environment {
 public:
  std::optional<std::string> Get(std::string_view name) const override {
    lookups.emplace_back(name);
    auto it = values.find(std::string(name));
    if (it == values.end())
      return std::nullopt;
    return it->second;
  }
  std::map<std::string, std::string, NoCaseLess> values;
  mutable std::vector<std::string> lookups;
};

class FixedClock final : public Clock {
 public:
  core::LocalTime Now() const override { return now; }
  core::LocalTime now{2024, 3, 5, 2, 14, 7, 9, 0};  // Tuesday 5 March 2024, 14:07:09
};

// Files by full path. `unreadable` paths list but cannot be read; a write fails with
// `write_error` when it is set, and is refused with `refusal` when that is set.
class FakeParameterFiles final : public ParameterFiles {
 public:
  ParameterListing List(const std::string& directory, size_t max_names) override {
    ParameterListing listing;
    for (const auto& [path, content] : files) {
      if (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
          path.find('\\', directory.size()) == std::string::npos &&
          path.ends_with(kGlobalParameterSuffix)) {
        if (listing.names.size() < max_names)
          listing.names.push_back(path.substr(directory.size()));
        else
          ++listing.left_out;
      }
    }
    return listing;
  }
  std::optional<std::string> ReadFirstLine(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end() || unreadable.count(path))
      return std::nullopt;
    return it->second.substr(0, it->second.find_first_of("\r\n"));
  }
  core::Result<void> WriteAtomically(const std::string& path,
                                     std::string_view content,
                                     std::string& refused) override {
    ++writes;
    refused = refusal;
    if (!refusal.empty())
      return core::Failure{"refused", 5};
    if (write_error != 0)
      return core::Failure{"cannot be written", static_cast<uint32_t>(-write_error)};
    files[path] = std::string(content);
    return {};
  }
  std::map<std::string, std::string> files;
  std::set<std::string> unreadable;
  int32_t write_error = 0;
  std::string refusal;
  int writes = 0;
};

// A complete context over the fakes above.
struct FakeRun {
  std::vector<std::string> table;
  protocol::TaskRecord task;
  std::string variables_text;
  std::string global_parameter_directory;
  core::testing::RecordingConsole console;
  FakeEnvironment environment;
  FixedClock clock;
  EnglishDateNames names;
  FakeParameterFiles files;
  VariableContext context{table,   task,        variables_text, ';',   global_parameter_directory,
                          console, environment, clock,          names, files};

  void SetBlock(std::string text, char delimiter = ';') {
    variables_text = std::move(text);
    context.variables_text = variables_text;
    context.list_delimiter = delimiter;
  }
};

}  // namespace x5::variables::testing
