// The path rules of the checks before the runner changes a file in a job folder.
#include "win/job_folder.h"

#include <gtest/gtest.h>

namespace x5::win {
namespace {

TEST(JobFolder, RootsAreTheDriveAndShareRoots) {
  for (const char* root : {"C:", "\\", "\\\\srv\\share\\", "\\\\?\\C:\\", "\\\\?\\UNC\\srv\\share"})
    EXPECT_TRUE(IsRootFolder(root)) << root;
  for (const char* folder : {"C:\\x", "\\\\srv\\share\\x", "\\\\?\\UNC\\srv\\share\\x", "x"})
    EXPECT_FALSE(IsRootFolder(folder)) << folder;
}

// Folder and name, "-" where the path is not split.
TEST(JobFolder, SplitsIntoAFolderAndAPlainName) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\jobs\\J1\\S01\\X$.$$$", "C:\\jobs\\J1\\S01|X$.$$$"},
      {"C:\\jobs\\J1\\\\S01", "C:\\jobs\\J1|S01"},
      {"C:\\console.txt", "C:\\|console.txt"},
      {"\\\\srv\\share\\log.txt", "\\\\srv\\share\\|log.txt"},
      {"C:\\jobs\\", "-"},
      {"C:\\jobs\\..", "-"},
      {"C:\\jobs\\a:stream", "-"},
      {"console.txt", "-"},
  };
  for (const auto& [path, expected] : cases) {
    const std::optional<FolderAndName> split = SplitFolderAndName(path);
    EXPECT_EQ(split ? split->folder + "|" + split->name : "-", expected) << path;
  }
  EXPECT_EQ(WithoutTrailingSeparator("C:\\jobs\\J1\\\\"), "C:\\jobs\\J1");
  EXPECT_EQ(WithoutTrailingSeparator("C:\\"), "C:\\");
  // A name that stays in its folder.
  for (const char* name : {"#12_1#34_Title.jpg.x5part", "A B$.$$$"})
    EXPECT_TRUE(IsPlainName(name)) << name;
  for (const char* name : {"", ".", "..", "a\\b", "a/b", "C:x", "a*", "a?", "a\x01"})
    EXPECT_FALSE(IsPlainName(name)) << name;
}

TEST(JobFolder, FinalPathMustLieDirectlyInTheFolder) {
  struct Case {
    const char* folder;
    const char* child;
    bool inside;
  };
  const Case cases[] = {
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\C:\\jobs\\S01\\X$.$$$", true},
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\c:\\JOBS\\s01\\x", true},  // letters in either case
      {"\\\\?\\C:\\", "\\\\?\\C:\\console.txt", true},            // a root keeps its separator
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\C:\\jobs\\S01", false},    // the folder itself
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\C:\\jobs\\S01\\", false},  // no name
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\C:\\jobs\\S01\\sub\\x", false},  // deeper
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\C:\\jobs\\S011\\x", false},      // a sibling's prefix
      {"\\\\?\\C:\\jobs\\S01", "\\\\?\\Z:\\tmp\\outside\\x", false},    // where a link led
      {"", "\\\\?\\C:\\x", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LiesDirectlyIn(c.folder, c.child), c.inside) << c.folder << " | " << c.child;
}

TEST(JobFolder, RefusalNamesTheFileOnOneLine) {
  EXPECT_EQ(RefusalLine("C:\\j\\S01\\X$.$$$", "written", JobFolderProblem::kFolderIsLink),
            "***** C:\\j\\S01\\X$.$$$ not written: its folder is a link (junction, symbolic link "
            "or mount point) *****");
  EXPECT_EQ(RefusalLine("C:\\j\\a\r\nb", "deleted", JobFolderProblem::kFileHasOtherNames),
            "***** C:\\j\\a??b not deleted: it has other names (hard links) *****");
}

}  // namespace
}  // namespace x5::win
