// The native first-line reader, which x5ctl check reads global parameter files through.
#include "variables/system_adapters.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace x5::variables {
namespace {

namespace fs = std::filesystem;

TEST(SystemParameterFiles, ReadsTheFirstLineWholeOrNotAtAll) {
  const fs::path file =
      fs::temp_directory_path() / ("x5vars-" + std::to_string(getpid()) + "$.$$$");
  SystemParameterFiles files;
  const std::pair<std::string, std::string> cases[] = {
      {"\"v\"\r\nsecond", "\"v\""},
      {"lf\nsecond", "lf"},
      {"", ""},
      {std::string(5000, 'x'), std::string(5000, 'x')},
      {std::string(kMaxParameterLine + 10, 'y'), "<none>"},  // never cut short
  };
  for (const auto& [content, want] : cases) {
    std::ofstream(file, std::ios::binary) << content;
    EXPECT_EQ(files.ReadFirstLine(file.string()).value_or("<none>"), want) << content.size();
  }
  fs::remove(file);
  EXPECT_FALSE(files.ReadFirstLine(file.string()));
}

}  // namespace
}  // namespace x5::variables
