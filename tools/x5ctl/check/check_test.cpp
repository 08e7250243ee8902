// x5ctl check: the job authoring guide's worked examples (each one run and
// compared, and found in the guide as it stands, each example's folder left as it was). The
// examples' files are listed with their content, so the guide shows what each check reads; among
// them a rule left unchecked (file-rules) and a field compared as text (value-rules).
#include "x5ctl/check/check.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace x5::ctl::check {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = X5_SOURCE_DIR;
const fs::path kExamples = kSource / "examples" / "authoring";
const fs::path kGuide = kSource / "docs" / "job-authoring.md";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// ------------------------------------------------------------------------------ the guide

struct Example {
  std::string name;
  fs::path dir;
  std::vector<std::string> args;  // from args.txt, one a line
};

std::vector<Example> Examples() {
  std::vector<Example> examples;
  for (const fs::directory_entry& entry : fs::directory_iterator(kExamples)) {
    if (!entry.is_directory())
      continue;
    Example example{entry.path().filename().string(), entry.path(), {}};
    std::istringstream args(ReadText(entry.path() / "args.txt"));
    for (std::string line; std::getline(args, line);)
      if (!line.empty())
        example.args.push_back(line);
    examples.push_back(std::move(example));
  }
  std::sort(examples.begin(), examples.end(),
            [](const Example& a, const Example& b) { return a.name < b.name; });
  return examples;
}

struct Checked {
  int status = -1;
  std::string out;
  std::string errors;
};

// Runs `x5ctl check` with the example's arguments, as the command line would.
Checked RunExample(const Example& example, bool json = false) {
  CLI::App app;
  std::ostringstream out;
  std::ostringstream errors;
  const std::function<int()> run = SetUpCheckCommand(app, out, errors, example.dir);
  std::vector<std::string> args = example.args;
  args.push_back((example.dir / "task.toml").string());
  if (json)
    args.push_back("--json");
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  app.parse(args);
  const int status = run();
  return {status, out.str(), errors.str()};
}

// Every file and folder under `root` with its time and content: the check must write nothing.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root))
    files[e.path().lexically_relative(root).generic_string()] =
        e.is_directory() ? "folder"
                         : std::to_string(e.last_write_time().time_since_epoch().count()) + "|" +
                               ReadText(e.path());
  return files;
}

// The guide's copy of an example: the task, the small files it reads and the check's output.
std::string GuideBlock(const Example& example, const std::string& expected) {
  std::string block = "<!-- example " + example.name + ": written by the test suite from ";
  block += "examples/authoring/" + example.name + " -->\n";
  block += "`examples/authoring/" + example.name + "/task.toml`:\n\n```toml\n" +
           ReadText(example.dir / "task.toml") + "```\n";
  std::vector<fs::path> files;
  if (fs::exists(example.dir / "files"))
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(example.dir / "files"))
      if (e.is_regular_file() && e.path().filename() != ".keep")
        files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string text = ReadText(file);
    std::erase(text, '\r');
    block += "\n`" + file.lexically_relative(example.dir).generic_string() + "`";
    block += text.empty() ? " (empty)\n" : ":\n\n```\n" + text + "```\n";
  }
  std::string command = "x5ctl check task.toml";
  for (const std::string& arg : example.args)
    command += " " + (arg.find(' ') == std::string::npos ? arg : "\"" + arg + "\"");
  block += "\n```\n$ " + command + "\n" + expected + "```\n";
  block += "<!-- end of example " + example.name + " -->";
  return block;
}

// Options the check cannot take are refused before anything is checked, saying which.
TEST(CheckOptions, RefusedWithTheOptionNamed) {
  const Example example{"rc-skipped", kExamples / "rc-skipped", {"--now", "2024-02-31 12:00:00"}};
  const Checked checked = RunExample(example);
  EXPECT_EQ(checked.status, kCheckUsage);
  EXPECT_NE(checked.errors.find("--now \"2024-02-31 12:00:00\""), std::string::npos)
      << checked.errors;
}

TEST(CheckGuide, EveryExampleGivesItsExpectedOutputAndIsInTheGuide) {
  // X5_UPDATE_AUTHORING=1 rewrites the expected outputs and the guide's copies instead.
  const bool update = std::getenv("X5_UPDATE_AUTHORING") != nullptr;
  std::string guide = ReadText(kGuide);
  const std::vector<Example> examples = Examples();
  ASSERT_GE(examples.size(), 10u);
  for (const Example& example : examples) {
    SCOPED_TRACE(example.name);
    // The switches example would write with every switch (global parameters, an edited file,
    // the printer report, the console file): its tree stays as it was, as every example's does.
    const std::map<std::string, std::string> before = Snapshot(example.dir);
    const Checked checked = RunExample(example);
    EXPECT_EQ(checked.errors, "");
    const fs::path expected_file = example.dir / "expected.txt";
    if (update)
      WriteText(expected_file, checked.out);
    const std::string expected = ReadText(expected_file);
    EXPECT_EQ(checked.out, expected);
    const std::string exit_line = "(exit status " + std::to_string(checked.status) + ")\n";
    EXPECT_TRUE(checked.out.ends_with(exit_line)) << exit_line;
    // The check never deciphers: the variables example's SETP password stays hidden.
    EXPECT_EQ(checked.out.find("S3cret!"), std::string::npos);
    EXPECT_EQ(RunExample(example, true).out.find("S3cret!"), std::string::npos);
    if (!update)
      EXPECT_EQ(Snapshot(example.dir), before) << "the check wrote into the example's folder";

    const std::string begin = "<!-- example " + example.name + ":";
    const std::string end = "<!-- end of example " + example.name + " -->";
    const size_t at = guide.find(begin);
    const size_t to = guide.find(end);
    ASSERT_NE(at, std::string::npos) << "docs/job-authoring.md has no example " << example.name;
    ASSERT_NE(to, std::string::npos);
    const std::string block = GuideBlock(example, expected);
    if (update)
      guide.replace(at, to + end.size() - at, block);
    else
      EXPECT_EQ(guide.substr(at, to + end.size() - at), block)
          << "the guide's copy differs; X5_UPDATE_AUTHORING=1 rewrites it";
  }
  if (update)
    WriteText(kGuide, guide);
}

// A job checked without the drive its first step's rule reads: that step's check is not complete,
// so neither is the job's prediction, in the exit status and in the job record that ends the JSON.
TEST(CheckJob, AStepNotCheckedLeavesTheJobNotPredicted) {
  const Checked checked = RunExample({"job", kExamples / "job", {}}, true);
  EXPECT_EQ(checked.status, kCheckUnchecked) << checked.errors;
  const std::string last = checked.out.substr(checked.out.rfind('\n', checked.out.size() - 2) + 1);
  const nlohmann::json job = nlohmann::json::parse(last);
  EXPECT_EQ(job["record"], "job");
  EXPECT_EQ(job["exit_status"], kCheckUnchecked);
  ASSERT_EQ(job["steps"].size(), 3u);
  EXPECT_EQ(job["steps"][1]["rc_in"], 1);  // the rule did not fire here: RC 1 goes on
}

}  // namespace
}  // namespace x5::ctl::check
