// The package on its own: unpacked into a fresh folder of the prefix, its x5ctl.exe drives its
// x5runner.exe (a Windows parent on Windows pipes) through a sample task.
#include <cstdlib>

#include "e2e_support.h"

namespace x5::e2e {
namespace {

class Package : public RunnerTest {};

std::optional<fs::path> FindPackage(const fs::path& mingw) {
  const fs::path folder = fs::path(EnvOr("X5_PACKAGE_DIR", (mingw / ".." / "package").c_str()));
  if (!fs::is_directory(folder))
    return std::nullopt;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("x5runner-") && name.ends_with("-win64.zip"))
      return entry.path();
  }
  return std::nullopt;
}

TEST_F(Package, UnpackedToolDrivesUnpackedRunnerThroughTheSampleTask) {
  const std::optional<fs::path> zip = FindPackage(fs::path(mingw_));
  ASSERT_TRUE(zip) << "no package: run scripts/package";
  const fs::path unpacked = Linux("installed");
  const std::string unzip = "unzip -q -o '" + zip->string() + "' -d '" + unpacked.string() + "'";
  ASSERT_EQ(std::system(unzip.c_str()), 0) << unzip;
  const std::string name = zip->stem().string();  // the zip's own top folder
  const fs::path top = unpacked / name;
  for (const char* file : {"x5runner.exe", "x5ctl.exe", "dvup.dll", "README.md", "docs"})
    ASSERT_TRUE(fs::exists(top / file)) << file;

  // Every binary says which version it is (UTF-16 in its version resource), and x5ctl the same.
  const std::string version = name.substr(9, name.size() - 9 - 6);
  auto utf16 = [](const std::string& text) {
    std::string wide;
    for (char c : text)
      wide += std::string{c, '\0'};
    return wide;
  };
  for (const char* binary : {"x5runner.exe", "x5ctl.exe", "dvup.dll"}) {
    const std::string bytes = ReadFileText(top / binary);
    const size_t at = bytes.find(utf16("ProductVersion"));
    ASSERT_NE(at, std::string::npos) << binary << " has no version resource";
    EXPECT_NE(bytes.find(utf16(version), at), std::string::npos) << binary;
  }
  const std::string tool = Win("installed\\" + name + "\\x5ctl.exe");
  Ran said = RunWine({tool, "--version"});
  EXPECT_EQ(said.code, std::optional<int32_t>(0));
  EXPECT_NE(said.out.find(version), std::string::npos) << said.out;

  // The sample task, with its job folder in this test's folder; the runner is found beside x5ctl.
  const std::string toml = TaskFileHead() +
                           "user_name = 'DEMO'\nmaximum_rc = 4\ntask_rc = 1\nstep_minimum_rc = 1\n"
                           "step_maximum_rc = 4\ncommand = 'cmd /c echo %GREETING% from the "
                           "package'\nvariables = 'SET GREETING=Hello'\nops = ['STAT']\n";
  std::ofstream(Linux("task.toml"), std::ios::binary) << toml;
  Ran run = RunWine({tool, "run", Win("task.toml")});
  EXPECT_EQ(run.code, std::optional<int32_t>(0)) << run.out;
  EXPECT_NE(run.out.find("status  \"Started \""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("phase 5 (END received)  status \"STEP OK \""), std::string::npos)
      << run.out;
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileText(Linux("console.txt")).find("Hello from the package") != std::string::npos;
  })) << ReadFileText(Linux("console.txt"));
}

}  // namespace
}  // namespace x5::e2e
