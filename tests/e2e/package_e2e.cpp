// The package on its own: unpacked into a fresh folder of the prefix, its x5ctl.exe drives its
// x5runner.exe (a Windows parent on Windows pipes) through a sample task.
#include <cstdlib>

#include "e2e_support.h"

namespace x5::e2e {
namespace {

class Package : public RunnerTest {};

// Everything a Windows program writes to its standard output, and its exit code.
struct Ran {
  std::string out;
  std::optional<int32_t> code;
};

Ran RunWineProgram(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"wine"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Ran ran;
  std::string error;
  auto child = StartChildProcess(argv, error);
  if (!child) {
    ADD_FAILURE() << error;
    return ran;
  }
  child->CloseInput();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (;;) {
    uint8_t buf[4096];
    ChildProcess::IoResult got = child->Read(buf, deadline);
    if (got.status != ChildProcess::Io::kOk)
      break;
    ran.out.append(reinterpret_cast<const char*>(buf), got.bytes);
  }
  ran.code = child->Wait(deadline);
  return ran;
}

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

  // Every binary says which version it is, and x5ctl says the same.
  const std::string version = name.substr(9, name.size() - 9 - 6);
  std::u16string wide_version(version.begin(), version.end());
  for (const char* binary : {"x5runner.exe", "x5ctl.exe", "dvup.dll"}) {
    const std::string bytes = ReadFileText(top / binary);
    const std::u16string key = u"ProductVersion";
    const std::string needle(reinterpret_cast<const char*>(key.data()), key.size() * 2);
    const size_t at = bytes.find(needle);
    ASSERT_NE(at, std::string::npos) << binary << " has no version resource";
    const std::string expected(reinterpret_cast<const char*>(wide_version.data()),
                               wide_version.size() * 2);
    EXPECT_NE(bytes.find(expected, at), std::string::npos) << binary;
  }
  const std::string tool = Win("installed\\" + name + "\\x5ctl.exe");
  Ran said = RunWineProgram({tool, "--version"});
  EXPECT_EQ(said.code, std::optional<int32_t>(0));
  EXPECT_NE(said.out.find(version), std::string::npos) << said.out;

  // The sample task, with its job folder in this test's folder; the runner is found beside x5ctl.
  const std::string toml = TaskFileHead() +
                           "user_name = 'DEMO'\nmaximum_rc = 4\ntask_rc = 1\nstep_minimum_rc = 1\n"
                           "step_maximum_rc = 4\ncommand = 'cmd /c echo %GREETING% from the "
                           "package'\nvariables = 'SET GREETING=Hello'\nops = ['STAT']\n";
  std::ofstream(Linux("task.toml"), std::ios::binary) << toml;
  Ran run = RunWineProgram({tool, "run", Win("task.toml")});
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
