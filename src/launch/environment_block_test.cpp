// Tests of the step's environment: the runner environment's changes, and for a logon reading the
// user block, merging, de-duplication, sort, block.
#include "launch/environment_block.h"

#include <gtest/gtest.h>

#include "launch/variable_sort.h"
#include "variables/variables.h"

namespace x5 {
namespace {

const ByteBlockText kBytes;

template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::u16string Units(std::string_view text) {
  std::u16string units;
  for (char c : text)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return units;
}

// The block as bytes, its NULs and its two-NUL end included.
std::string Ansi(const EnvironmentBlock& block) {
  std::string out;
  for (char16_t unit : block)
    out.push_back(static_cast<char>(unit));
  return out;
}

SecretString FakeDecipher(std::string_view hex) {
  if (hex == "BAD")
    return SecretString();
  return SecretString("plain:" + std::string(hex));
}

TEST(UserEnvironmentBlock, ReadsEntriesUntilTheEmptyEntry) {
  const std::u16string block = Units(Bytes("A=1\0PATH=C:\\x\0=C:=C:\\\0\0IGNORED=1\0\0"));
  EXPECT_EQ(ReadUserEnvironment(block.data(), kBytes),
            (std::vector<std::string>{"A=1", "PATH=C:\\x", "=C:=C:\\"}));
  const std::u16string empty(2, u'\0');
  EXPECT_TRUE(ReadUserEnvironment(empty.data(), kBytes).empty());
  EXPECT_TRUE(ReadUserEnvironment(nullptr, kBytes).empty());
}

TEST(UserEnvironmentBlock, HighUnitsKeepTheirLowByteInTheByteForm) {
  const std::u16string block = {u'N', u'=', char16_t{0x0142}, char16_t{0x00E9}, 0, 0};
  EXPECT_EQ(ReadUserEnvironment(block.data(), kBytes),
            (std::vector<std::string>{std::string("N=\x42\xE9")}));
}

TEST(UserEnvironmentBlock, StopsAtTheLimitAndDropsTheCutEntry) {
  // No terminator anywhere within the limit: nothing past it is read (ASan guards the bound).
  std::u16string block = Units("A=1") + u'\0' + std::u16string(kUserBlockMaxUnits, u'x');
  block.resize(kUserBlockMaxUnits);
  EXPECT_EQ(ReadUserEnvironment(block.data(), kBytes), (std::vector<std::string>{"A=1"}));

  // An entry that ends exactly on the last unit inside the limit is whole.
  std::u16string exact = Units("B=") + std::u16string(kUserBlockMaxUnits - 3, u'y') + u'\0';
  ASSERT_EQ(exact.size(), kUserBlockMaxUnits);
  const std::vector<std::string> got = ReadUserEnvironment(exact.data(), kBytes);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), kUserBlockMaxUnits - 1);
}

TEST(EnvironmentMerge, RunnerDefinitionsWinAndProfileEntriesAreAppended) {
  struct Case {
    std::vector<std::string> table;
    std::vector<std::string> profile;
    std::vector<std::string> expected;
  } cases[] = {
      {{"TEMP=C:\\r"}, {"temp=C:\\u", "USERNAME=bob"}, {"TEMP=C:\\r", "USERNAME=bob"}},
      // A runner variable set to nothing still holds the name against the profile.
      {{"TEMP="}, {"TEMP=C:\\u"}, {"TEMP="}},
      // PATHX is not PATH.
      {{"PATHX=1"}, {"PATH=C:\\w"}, {"PATHX=1", "PATH=C:\\w"}},
      // Entries without a name are appended as they are.
      {{"X=1"}, {"junk", "=C:=C:\\"}, {"X=1", "junk", "=C:=C:\\"}},
  };
  for (Case& c : cases) {
    MergeUserEnvironment(c.table, c.profile);
    EXPECT_EQ(c.table, c.expected);
  }
}

TEST(EnvironmentMerge, LastDefinitionWinsWithoutRegardToCaseAndSortIsByCode) {
  std::vector<std::string> table = {"A=1", "B=1", "a=2", "=C:=x", "junk", "A=3", "b="};
  RemoveDuplicateNames(table);
  EXPECT_EQ(table, (std::vector<std::string>{"", "", "", "=C:=x", "junk", "A=3", "b="}));
  // The sort is by unsigned character code.
  table = {"b=1", "B=1", "", "\xC4=1", "A=2", "A=1", "_=1"};
  mSimpleSort::SortVariables(table);
  EXPECT_EQ(table, (std::vector<std::string>{"", "A=1", "A=2", "B=1", "_=1", "b=1", "\xC4=1"}));
}

TEST(EnvironmentBlockBuild, LeavesOutEmptyNamelessAndUndecipherableEntries) {
  const std::string marker(1, kPasswordMarker);
  const std::vector<std::string> table = {"",
                                          "A=1",
                                          "EMPTY=",
                                          "noequals",
                                          "PW=" + marker + "C0FFEE",
                                          "PW0=" + marker,
                                          "PWBAD=" + marker + "BAD",
                                          "=C:=C:\\dir"};
  EXPECT_EQ(Ansi(BuildEnvironmentBlock(table, FakeDecipher, kBytes)),
            Bytes("A=1\0PW=plain:C0FFEE\0=C:=C:\\dir\0\0"));
  // An empty table gives two NULs.
  EXPECT_EQ(BuildEnvironmentBlock({"EMPTY="}, FakeDecipher, kBytes), (EnvironmentBlock{0, 0}));
}

TEST(RunnerEnvironment, LaterEntriesOverrideAndUnusableValuesRemove) {
  const std::string marker(1, kPasswordMarker);
  const std::vector<std::string> table = {"A=1",           "EMPTY=",
                                          "noequals",      "=C:=C:\\dir",
                                          "A=2",           "PW=" + marker + "C0FFEE",
                                          "PW0=" + marker, "PWBAD=" + marker + "BAD"};
  std::vector<std::string> got;
  for (const EnvironmentEdit& edit : RunnerEnvironmentEdits(table, FakeDecipher))
    got.push_back(edit.name + (edit.value ? "=" + std::string(edit.value->View()) : " removed"));
  EXPECT_EQ(got, (std::vector<std::string>{"A=1", "EMPTY removed", "A=2", "PW=plain:C0FFEE",
                                           "PW0 removed", "PWBAD removed"}));
}

// The chain merges, de-duplicates and sorts before it builds.
TEST(StepEnvironment, WholeChain) {
  const std::vector<std::string> table = {"X5Step=S01", "TEMP=", "Path=C:\\runner", "X=1", "X=2"};
  const std::u16string user = Units(Bytes("TEMP=C:\\u\0PATH=C:\\w\0USERPROFILE=C:\\Users\\u\0\0"));
  EXPECT_EQ(Ansi(StepEnvironmentBlock(table, user.data(), FakeDecipher, kBytes)),
            Bytes("Path=C:\\runner\0USERPROFILE=C:\\Users\\u\0X5Step=S01\0X=2\0\0"));
}

}  // namespace
}  // namespace x5
