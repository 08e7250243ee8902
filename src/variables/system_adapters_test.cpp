// The POSIX adapters against a real directory: listing, first lines, atomic replacement, long
// environment values.
#include "variables/system_adapters.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace x5 {
namespace {

namespace fs = std::filesystem;

class SystemAdaptersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "x5vars-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream(root_ / name, std::ios::binary) << content;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(root_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The directory as the runner spells it.
  std::string Dir() const { return root_.string() + "\\"; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path root_;
  SystemParameterFiles files_;
};

TEST_F(SystemAdaptersTest, ListsOnlyParameterFiles) {
  Write("B$.$$$", "1");
  Write("A$.$$$", "2");
  Write("C.$$$.bak", "3");
  Write("notes.txt", "4");
  fs::create_directory(root_ / "D$.$$$");
  EXPECT_EQ(files_.List(Dir(), 10).names, (std::vector<std::string>{"A$.$$$", "B$.$$$"}));
  const ParameterListing bounded = files_.List(Dir(), 1);
  EXPECT_EQ(bounded.names, std::vector<std::string>{"A$.$$$"});
  EXPECT_EQ(bounded.left_out, 1u);
  EXPECT_TRUE(files_.List(Dir() + "missing\\", 10).names.empty());
}

TEST_F(SystemAdaptersTest, ReadsTheFirstLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"\"v\"\r\nsecond", "\"v\""},
      {"lf\nsecond", "lf"},
      {"no line end", "no line end"},
      {"", ""},
      {"\r\n", ""},
      {std::string(5000, 'x') + "\n", std::string(5000, 'x')},
  };
  for (const auto& [content, want] : cases) {
    Write("F$.$$$", content);
    EXPECT_EQ(files_.ReadFirstLine(Dir() + "F$.$$$").value_or("<none>"), want);
  }
  EXPECT_FALSE(files_.ReadFirstLine(Dir() + "missing.$$$"));
  Write("BIG$.$$$", std::string(kMaxParameterLine + 10, 'y'));
  EXPECT_FALSE(files_.ReadFirstLine(Dir() + "BIG$.$$$"));  // never cut short
}

TEST_F(SystemAdaptersTest, UnreadableFileIsNotRead) {
  if (geteuid() == 0)
    GTEST_SKIP() << "permissions do not bind the superuser";
  Write("U$.$$$", "\"x\"");
  fs::permissions(root_ / "U$.$$$", fs::perms::none);
  EXPECT_FALSE(files_.ReadFirstLine(Dir() + "U$.$$$"));
}

TEST_F(SystemAdaptersTest, ReplacesAtomicallyAndLeavesNoTemporaryFile) {
  std::string refusal;
  EXPECT_EQ(files_.WriteAtomically(Dir() + "X$.$$$", "\"1\"\r\n", refusal), 1);
  EXPECT_EQ(Read("X$.$$$"), "\"1\"\r\n");
  Write("X$.$$$", std::string(10000, 'o'));
  EXPECT_EQ(files_.WriteAtomically(Dir() + "X$.$$$", "\"2\"\r\n", refusal), 1);
  EXPECT_EQ(Read("X$.$$$"), "\"2\"\r\n");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"X$.$$$"}));
}

TEST_F(SystemAdaptersTest, FailedReplacementKeepsWhatWasThere) {
  // The target is a directory: the final move fails, and nothing else may change.
  fs::create_directory(root_ / "Y$.$$$");
  Write("Y$.$$$/inside", "keep");
  std::string refusal;
  EXPECT_LT(files_.WriteAtomically(Dir() + "Y$.$$$", "\"new\"\r\n", refusal), 0);
  EXPECT_TRUE(fs::is_directory(root_ / "Y$.$$$"));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Y$.$$$"}));
  EXPECT_LT(files_.WriteAtomically(Dir() + "missing\\Z$.$$$", "x", refusal), 0);
}

TEST(SystemEnvironment, ReadsLongValuesWhole) {
  const std::string value(20000, 'v');
  ASSERT_EQ(setenv("X5_VARS_TEST_LONG", value.c_str(), 1), 0);
  EXPECT_EQ(SystemEnvironment().Get("X5_VARS_TEST_LONG").value_or(""), value);
  unsetenv("X5_VARS_TEST_LONG");
  EXPECT_FALSE(SystemEnvironment().Get("X5_VARS_TEST_LONG"));
  EXPECT_FALSE(SystemEnvironment().Get(std::string_view("PATH\0X", 6)));
}

}  // namespace
}  // namespace x5
