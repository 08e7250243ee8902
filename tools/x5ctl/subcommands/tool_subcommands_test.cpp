// The subcommands that read and show: each ends with its documented status and says why, and a
// task written by encode reads back through decode.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "x5ctl/subcommands/decode.h"
#include "x5ctl/subcommands/encipher.h"
#include "x5ctl/subcommands/encode.h"
#include "x5ctl/subcommands/explain.h"
#include "x5ctl/subcommands/show_path.h"
#include "x5ctl/subcommands/tool_exit.h"

namespace x5::ctl::subcommands {
namespace {

namespace fs = std::filesystem;

TEST(ToolSubcommands, EndWithTheirStatusAndSayWhy) {
  const fs::path dir = fs::temp_directory_path() / ("x5ctl_tools_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string task = (dir / "task.toml").string();
  const std::string stream = (dir / "task.bin").string();
  std::ofstream(task) << "job_name = \"JOB\"\njob_base_directory = 'C:\\jobs\\'\n"
                         "step_directory = \"S01\"\nconsole_file = 'C:\\jobs\\JOB\\c.txt'\n"
                         "ops = [\"STAT\"]\n";
  const std::string missing = (dir / "missing").string();
  const std::string unwritable = (dir / "no" / "such" / "folder").string();

  using Call = std::function<int(std::istream&, std::ostream&, std::ostream&)>;
  struct Row {
    const char* what;
    Call call;
    int status;
    const char* said;  // in the output (status 0) or the errors
  };
  const Row rows[] = {
      {"encode writes the stream",
       [&](auto&, auto& out, auto& err) {
         return RunEncode({task, stream, false, {}}, out, err);
       },
       kToolDone, ""},
      {"decode reads it back as the parent's",
       [&](auto& in, auto& out, auto& err) {
         return RunDecode({stream, false, true}, in, out, err);
       },
       kToolDone, "JOB"},
      {"a task stream is no runner output",
       [&](auto& in, auto& out, auto& err) {
         return RunDecode({stream, false, false}, in, out, err);
       },
       kToolIncomplete, "report"},
      {"decode of a missing file",
       [&](auto& in, auto& out, auto& err) {
         return RunDecode({missing, true, false}, in, out, err);
       },
       kToolUsage, "cannot open"},
      {"explain of a missing job log",
       [&](auto& in, auto& out, auto& err) {
         return RunExplain({stream, missing, false, {}}, in, out, err);
       },
       kToolUsage, "cannot open"},
      {"encode to a folder that does not exist",
       [&](auto&, auto& out, auto& err) {
         return RunEncode({task, unwritable, false, {}}, out, err);
       },
       kToolIncomplete, "cannot write"},
      {"encode of a missing task",
       [&](auto&, auto& out, auto& err) {
         return RunEncode({missing, "", false, {}}, out, err);
       },
       kToolUsage, "cannot open"},
      {"show-console-file",
       [&](auto&, auto& out, auto& err) {
         return RunShowPath(task, TaskPath::kConsoleFile, out, err);
       },
       kToolDone, "C:\\jobs\\JOB\\c.txt\n"},
      {"show-step-directory",
       [&](auto&, auto& out, auto& err) {
         return RunShowPath(task, TaskPath::kStepDirectory, out, err);
       },
       kToolDone, "C:\\jobs\\JOB\\S01\\\n"},
      {"encipher-field takes 39 characters",
       [&](auto&, auto& out, auto& err) {
         return RunEncipher(std::string(39, 'p'), PasswordUse::kField, out, err);
       },
       kToolDone, "password = \""},
      {"encipher-field refuses 40",
       [&](auto&, auto& out, auto& err) {
         return RunEncipher(std::string(40, 'p'), PasswordUse::kField, out, err);
       },
       kToolUsage, "at most 39"},
      {"encipher-variable refuses an empty password",
       [&](auto&, auto& out, auto& err) {
         return RunEncipher("", PasswordUse::kVariable, out, err);
       },
       kToolUsage, "1 to 127"},
  };
  for (const Row& row : rows) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(row.call(in, out, err), row.status) << row.what << ": " << err.str();
    const std::string& said = row.status == kToolDone ? out.str() : err.str();
    EXPECT_NE(said.find(row.said), std::string::npos) << row.what << ": " << said;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace x5::ctl::subcommands
