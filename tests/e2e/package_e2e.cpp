// The packages on their own: the zip unpacked into a fresh folder of the prefix, its x5ctl.exe
// drives its x5runner.exe (a Windows parent on Windows pipes) through a sample task; the Debian
// package unpacked into a throw-away root, its x5ctl finds its runner and runs a sample step.
#include <cstdlib>

#include "e2e_support.h"

namespace x5::e2e {
namespace {

class Package : public RunnerTest {};

std::optional<fs::path> FindPackage(const fs::path& mingw,
                                    std::string_view head = "x5runner-",
                                    std::string_view tail = "-win64.zip") {
  const fs::path folder = fs::path(EnvOr("X5_PACKAGE_DIR", (mingw / ".." / "package").c_str()));
  if (!fs::is_directory(folder))
    return std::nullopt;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(head) && name.ends_with(tail))
      return entry.path();
  }
  return std::nullopt;
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text;
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

  // A sample task with its job folder in this test's folder; the runner is found beside x5ctl.
  WriteText(Linux("task.toml"), TaskFileHead() +
                                    "command = 'cmd /c echo %GREETING% from the package'"
                                    "\nvariables = 'SET GREETING=Hello'\nops = ['STAT']\n");
  Ran run = RunWine({tool, "run", Win("task.toml")});
  EXPECT_EQ(run.code, std::optional<int32_t>(0)) << run.out;
  EXPECT_NE(run.out.find("phase 5 (END received)  status \"STEP OK \""), std::string::npos)
      << run.out;
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFileText(Linux("console.txt")).find("Hello from the package") != std::string::npos;
  })) << ReadFileText(Linux("console.txt"));
}

// Installed as dpkg would (dpkg -x into a throw-away root): x5ctl says the package's version and,
// with no --runner, starts the runner the package put in lib/x5runner beside its bin.
TEST_F(Package, DebianPackageUnpackedRunsASampleStepWithItsOwnRunner) {
  const std::optional<fs::path> deb = FindPackage(fs::path(mingw_), "x5runner_", "_amd64.deb");
  ASSERT_TRUE(deb) << "no Debian package: run scripts/package";
  const fs::path root = Linux("root");
  const std::string unpack = "dpkg -x '" + deb->string() + "' '" + root.string() + "'";
  ASSERT_EQ(std::system(unpack.c_str()), 0) << unpack;
  for (const char* file :
       {"usr/bin/x5ctl", "usr/lib/x5runner/x5runner.exe", "usr/lib/x5runner/dvup.dll",
        "usr/lib/x5runner/x5step.exe", "usr/share/doc/x5runner/copyright",
        "usr/share/doc/x5runner/examples/hello.toml", "usr/share/doc/x5runner/docs/x5ctl.md"})
    EXPECT_TRUE(fs::is_regular_file(root / file)) << file;

  const std::string tool = (root / "usr/bin/x5ctl").string();
  const std::string version = Trim(RunProgram({"dpkg-deb", "-f", deb->string(), "Version"}).out);
  ASSERT_FALSE(version.empty());
  EXPECT_EQ(deb->filename().string(), "x5runner_" + version + "_amd64.deb");
  Ran said = RunProgram({tool, "--version"});
  EXPECT_EQ(said.code, std::optional<int32_t>(0));
  EXPECT_EQ(Trim(said.out), "x5ctl " + version);
  const std::string depends = RunProgram({"dpkg-deb", "-f", deb->string(), "Depends"}).out;
  EXPECT_TRUE(Contains(depends, "wine (>= ") && Contains(depends, "wine64 (>= ")) << depends;

  // The man page and the completion name every subcommand the installed x5ctl lists, and the
  // subcommands those list (job run, ...).
  const std::string man =
      RunProgram({"zcat", (root / "usr/share/man/man1/x5ctl.1.gz").string()}).out;
  const std::string completion = ReadFileText(root / "usr/share/bash-completion/completions/x5ctl");
  // The names a help text lists under "Subcommands:".
  const auto listed = [&](const std::vector<std::string>& words) {
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.push_back("--help");
    const std::string help = RunProgram(argv).out;
    std::vector<std::string> names;
    const size_t at = help.find("\nSubcommands:\n");
    std::istringstream lines(at == std::string::npos ? std::string() : help.substr(at + 14));
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("  ") && line.size() > 2 && line[2] != ' ')
        names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
  };
  const std::vector<std::string> subcommands = listed({});
  for (const std::string& name : subcommands) {
    std::string roff;  // the name as the man page writes it, dashes escaped
    for (char c : name)
      roff += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_TRUE(Contains(man, ".SS " + roff + "\n")) << name;
    EXPECT_TRUE(Contains(completion, "    " + name + ")")) << name;
    for (const std::string& sub : listed({name})) {
      EXPECT_TRUE(Contains(man, ".SS " + roff + " " + sub + "\n")) << name << " " << sub;
      EXPECT_TRUE(Contains(completion, "        " + sub + ") options=")) << name << " " << sub;
    }
  }
  EXPECT_GE(subcommands.size(), 5u);

  // A sample step, the runner found from x5ctl's own place.
  WriteText(Linux("task.toml"), TaskFileHead() +
                                    "command = 'cmd /c echo %GREETING% from the Debian "
                                    "package'\nvariables = 'SET GREETING=Hello'\nops = ['STAT']\n");
  Ran run = RunProgram({tool, "run", Linux("task.toml").string()});
  EXPECT_EQ(run.code, std::optional<int32_t>(0)) << run.out;
  EXPECT_TRUE(Contains(run.out, "phase 5 (END received)  status \"STEP OK \"")) << run.out;
  EXPECT_TRUE(WaitUntil([&] {
    return Contains(ReadFileText(Linux("console.txt")), "Hello from the Debian package");
  })) << ReadFileText(Linux("console.txt"));
}

}  // namespace
}  // namespace x5::e2e
