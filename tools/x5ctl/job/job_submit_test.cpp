// The sbatch command of a step: the chain's own options first (the user's win where they name the
// same), the first step held, and a command sh reads back word for word.
#include "x5ctl/job/job_submit.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace x5::ctl::job {
namespace {

TEST(JobSubmit, SbatchCommandsChainTheStepsAndQuoteTheirWords) {
  JobSubmitOptions options;
  options.sbatch = {"--time=1", "-p", "x5"};
  const std::vector<std::string> words{"/opt/x5 tools/x5ctl", "job's.toml", "", "$HOME;`id`\\"};
  const std::string run = ShellWords(words);
  EXPECT_EQ(SbatchCommand(options, "NIGHTLY", "/s/step-1-%j.log", run, std::nullopt),
            (std::vector<std::string>{"sbatch", "--parsable", "--job-name=NIGHTLY",
                                      "--output=/s/step-1-%j.log", "--hold", "--time=1", "-p", "x5",
                                      "--wrap=exec " + run}));
  EXPECT_EQ(SbatchCommand(options, "NIGHTLY", "o", run, "101")[4], "--dependency=afterany:101");

  FILE* shell = popen(("printf '[%s]' " + run).c_str(), "r");
  ASSERT_NE(shell, nullptr);
  char read[256] = "";
  const size_t got = fread(read, 1, sizeof read - 1, shell);
  pclose(shell);
  EXPECT_EQ(std::string(read, got), "[/opt/x5 tools/x5ctl][job's.toml][][$HOME;`id`\\]");
}

}  // namespace
}  // namespace x5::ctl::job
