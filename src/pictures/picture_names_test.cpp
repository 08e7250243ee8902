// Picture file names and the titles in them; the process evidence line of the job log.
#include "pictures/picture_names.h"

#include <gtest/gtest.h>

#include "pictures/process_evidence.h"

namespace x5::pictures {
namespace {

struct TitleCase {
  std::string title;
  std::string expected;
};

TEST(PictureNames, SanitiseTitle) {
  const TitleCase cases[] = {
      {"C:\\data\\a.txt, b", "C__data_a_txt_ b"},
      {"What? *now* |x| \"q\" <y> a/b", "What_ _now_ _x_ _q_ _y_ a_b"},
      {std::string("tab\there\nnew\x7F", 13), "tab_here_new_"},
      {std::string("cut\0rest", 8), "cut"},
      {"Ärger – ü", "Ärger – ü"},  // bytes of other code pages pass unchanged
      {"trailing. ", "trailing_ "},
      {std::string(99, 'x') + ".yz" + std::string(48, 'w'), std::string(99, 'x') + "_"},  // cut
  };
  for (const TitleCase& c : cases)
    EXPECT_EQ(SanitiseTitle(c.title), c.expected) << c.title;
}

TEST(PictureNames, FileNameJoinsPrefixNumbersTitleAndExtension) {
  EXPECT_EQ(PictureFileName("C:\\spool\\J1", 1234, 1, 65802, SanitiseTitle("Report: 2.txt"), "jpg"),
            "C:\\spool\\J1#1234_1#65802_Report_ 2_txt.jpg");
  EXPECT_EQ(PictureFileName("D:\\j\\S\\", 4294967295u, 12, 0, "", "bmp"),
            "D:\\j\\S\\#4294967295_12#0_.bmp");
  EXPECT_EQ(PartialPictureName("a#1_1#2_t.jpg"), "a#1_1#2_t.jpg.x5part");
}

TEST(PictureNames, OldPicturesByTheirRealNamesAndTheTypeAsked) {
  struct Case {
    const char* name;
    PictureType type;
    bool old;
  };
  constexpr PictureType kJpg = PictureType::kJpg, kBmp = PictureType::kBmp;
  const Case cases[] = {
      {"#12_1#34_Title.JPG", kJpg, true},
      {"#12_1#34_Title.jpg", kJpg, true},  // letters in either case, as the file system has them
      {"#12_1#34_Title.bmp", kJpg, true},  // the BMP fallback of a JPG picture
      {"#12_1#34_Title.jpg", kBmp, false},
      {"#12_1#34_Title.BMP", kBmp, true},
      {"#a.jpgx", kJpg, false},  // matched by "#*.JPG" only through its short name
      {"a#1.JPG", kJpg, false},
      {"#x.x5part", kBmp, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsOldPictureName(c.name, c.type), c.old) << c.name << " " << PictureTypeText(c.type);
}

TEST(ProcessEvidence, LineNamesIdImageAndWindows) {
  EXPECT_EQ(ProcessEvidenceLine({42, "x5step.exe", {}}),
            "Ending process #42 x5step.exe, no titled windows");
  EXPECT_EQ(ProcessEvidenceLine({7, "", {"One", "Two\r\nlines"}}),
            "Ending process #7 ?, windows: \"One\", \"Two^M^Jlines\"");
  const std::string long_title(150, 'a');
  EXPECT_EQ(ProcessEvidenceLine({1, "p.exe", {long_title}}),
            "Ending process #1 p.exe, windows: \"" + std::string(100, 'a') + "...\"");
  EXPECT_TRUE(ProcessEvidenceLine({3, "p.exe", std::vector<std::string>(25, "w")})
                  .ends_with(", \"w\" and 5 more"));
}

}  // namespace
}  // namespace x5::pictures
