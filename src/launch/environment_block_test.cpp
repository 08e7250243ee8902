// Tests of the step's environment: the runner environment's changes, and for a logon reading the
// user block, merging, de-duplication, sort, block.
#include "launch/environment_block.h"

#include <gtest/gtest.h>

#include "launch/variable_sort.h"
#include "variables/variables.h"

namespace x5::launch {
namespace {

const ByteBlockText kBytes;

template <size_t N>
std::string Raw(const char (&text)[N]) {
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

core::SecretString FakeDecipher(std::string_view hex) {
  if (hex == "BAD")
    return core::SecretString();
  return core::SecretString("plain:" + std::string(hex));
}

// High units keep their low byte in the byte form.
TEST(UserEnvironmentBlock, ReadsEntriesUntilTheEmptyEntryOrTheLimit) {
  const std::u16string block =
      Units(Raw("A=1\0=C:=C:\\\0")) + u"N=\u0142\u00E9" + Units(Raw("\0\0IGNORED=1\0\0"));
  EXPECT_EQ(ReadUserEnvironment(block.data(), kBytes),
            (std::vector<std::string>{"A=1", "=C:=C:\\", "N=\x42\xE9"}));
  const std::u16string empty(2, u'\0');
  EXPECT_TRUE(ReadUserEnvironment(empty.data(), kBytes).empty());
  EXPECT_TRUE(ReadUserEnvironment(nullptr, kBytes).empty());
  // No terminator anywhere within the limit: nothing past it is read (ASan guards the bound).
  std::u16string endless = Units("A=1") + u'\0' + std::u16string(kUserBlockMaxUnits, u'x');
  endless.resize(kUserBlockMaxUnits);
  EXPECT_EQ(ReadUserEnvironment(endless.data(), kBytes), (std::vector<std::string>{"A=1"}));
  // An entry that ends exactly on the last unit inside the limit is whole.
  std::u16string exact = Units("B=") + std::u16string(kUserBlockMaxUnits - 3, u'y') + u'\0';
  ASSERT_EQ(exact.size(), kUserBlockMaxUnits);
  EXPECT_EQ(ReadUserEnvironment(exact.data(), kBytes),
            (std::vector<std::string>{"B=" + std::string(kUserBlockMaxUnits - 3, 'y')}));
}

// A runner variable set to nothing still holds the name; PATHX is not PATH; entries without a
// name are appended as they are.
TEST(EnvironmentMerge, RunnerDefinitionsWinAndProfileEntriesAreAppended) {
  using Table = std::vector<std::string>;
  const Table cases[][3] = {
      {{"TEMP=C:\\r"}, {"temp=C:\\u", "USERNAME=bob"}, {"TEMP=C:\\r", "USERNAME=bob"}},
      {{"TEMP="}, {"TEMP=C:\\u"}, {"TEMP="}},
      {{"PATHX=1"}, {"PATH=C:\\w"}, {"PATHX=1", "PATH=C:\\w"}},
      {{"X=1"}, {"junk", "=C:=C:\\"}, {"X=1", "junk", "=C:=C:\\"}},
  };
  for (const auto& [runner, profile, expected] : cases) {
    Table table = runner;
    MergeUserEnvironment(table, profile);
    EXPECT_EQ(table, expected);
  }
}

TEST(EnvironmentMerge, LastDefinitionWinsWithoutRegardToCaseAndSortIsByCode) {
  std::vector<std::string> table = {"A=1", "B=1", "a=2", "=C:=x", "junk", "A=3", "b="};
  RemoveDuplicateNames(table);
  EXPECT_EQ(table, (std::vector<std::string>{"", "", "", "=C:=x", "junk", "A=3", "b="}));
  // The sort is by unsigned character code.
  table = {"b=1", "B=1", "", "\xC4=1", "A=2", "A=1", "_=1"};
  SortVariables(table);
  EXPECT_EQ(table, (std::vector<std::string>{"", "A=1", "A=2", "B=1", "_=1", "b=1", "\xC4=1"}));
}

// Empty, nameless and undecipherable entries: left out of a block, removed from the runner's.
TEST(EnvironmentBlock, UnusableEntriesAndTheWholeChain) {
  const std::string pw(1, variables::kPasswordMarker);
  std::vector<std::string> table = {"", "A=1", "EMPTY=", "noequals", "=C:=C:\\dir", "A=2"};
  table.insert(table.end(), {"PW=" + pw + "C0FFEE", "PW0=" + pw, "PWBAD=" + pw + "BAD"});
  EXPECT_EQ(Ansi(BuildEnvironmentBlock(table, FakeDecipher, kBytes)),
            Raw("A=1\0=C:=C:\\dir\0A=2\0PW=plain:C0FFEE\0\0"));
  EXPECT_EQ(BuildEnvironmentBlock({"EMPTY="}, FakeDecipher, kBytes), (EnvironmentBlock{0, 0}));
  std::vector<std::string> edits;
  for (const EnvironmentEdit& edit : RunnerEnvironmentEdits(table, FakeDecipher))
    edits.push_back(edit.name + (edit.value ? "=" + std::string(edit.value->View()) : " removed"));
  EXPECT_EQ(edits, (std::vector<std::string>{"A=1", "EMPTY removed", "A=2", "PW=plain:C0FFEE",
                                             "PW0 removed", "PWBAD removed"}));
  // The chain merges, de-duplicates and sorts before it builds.
  const std::vector<std::string> chain = {"X5Step=S01", "TEMP=", "Path=C:\\runner", "X=1", "X=2"};
  const std::u16string user = Units(Raw("TEMP=C:\\u\0PATH=C:\\w\0USERPROFILE=C:\\Users\\u\0\0"));
  EXPECT_EQ(Ansi(StepEnvironmentBlock(chain, user.data(), FakeDecipher, kBytes)),
            Raw("Path=C:\\runner\0USERPROFILE=C:\\Users\\u\0X5Step=S01\0X=2\0\0"));
}

}  // namespace
}  // namespace x5::launch
