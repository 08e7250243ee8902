// Tests of the profile-list search, the hive file name, the hive account and the hive texts.
#include "launch/user_hive.h"

#include <gtest/gtest.h>

namespace x5::launch {
namespace {

using Bytes = std::vector<uint8_t>;

std::function<std::optional<ProfileListEntry>()> Source(std::vector<ProfileListEntry> entries,
                                                        int* reads = nullptr) {
  auto list = std::make_shared<std::vector<ProfileListEntry>>(std::move(entries));
  auto at = std::make_shared<size_t>(0);
  return [list, at, reads]() -> std::optional<ProfileListEntry> {
    if (*at == list->size())
      return std::nullopt;
    if (reads != nullptr)
      ++*reads;
    return (*list)[(*at)++];
  };
}

TEST(ProfileList, FirstEntryWithTheSidAndADirectoryWins) {
  const Bytes sid = {1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
  const Bytes longer = {1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0};
  int reads = 0;
  const std::optional<ProfileListEntry> found = FindProfile(
      Source({{"S-1-5-18", "%SystemRoot%\\system32\\config\\systemprofile", Bytes{1, 2}},
              {"S-longer", "C:\\Users\\longer", longer},
              {"S-no-path", std::nullopt, sid},
              {"S-1-5-21", "%SystemDrive%\\Users\\bob", sid},
              {"S-1-5-21-dup", "C:\\Users\\second", sid}},
             &reads),
      sid);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, "S-1-5-21");
  EXPECT_EQ(*found->image_path, "%SystemDrive%\\Users\\bob");
  EXPECT_EQ(reads, 4);  // the search ends at the match

  EXPECT_FALSE(FindProfile(Source({{"S-1-5-21", "C:\\Users\\x", sid}}), Bytes{}));
  EXPECT_FALSE(FindProfile(Source({}), sid));
}

TEST(ProfileList, HiveFileAccountAndTexts) {
  EXPECT_EQ(HiveFile("C:\\Users\\bob\\"), "C:\\Users\\bob\\NTUSER.DAT");

  EXPECT_EQ(HiveAccount("bob", "CORP"), "CORP\\bob");
  EXPECT_EQ(HiveAccount("bob", "$local$"), "bob");
  EXPECT_EQ(HiveAccount("bob", "$CORP"), "$CORP\\bob");
  EXPECT_FALSE(IsLocalDomainForm(""));

  EXPECT_EQ(LookupFailureText("CORP\\bob"),
            "0 Error: Unable to Lookup the Current User Account: CORP\\bob");
  EXPECT_EQ(HiveResultText(0, "C:\\Users\\bob\\NTUSER.DAT", "S-1-5-21"),
            "1 Load = 0\r\nC:\\Users\\bob\\NTUSER.DAT\r\nS-1-5-21\r\n");
  EXPECT_EQ(HiveResultText(32, "f", "n"), "0 Load = 32\r\nf\r\nn\r\n");
}

}  // namespace
}  // namespace x5::launch
