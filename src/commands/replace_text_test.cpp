// The replace transform: exact and case-blind matching, overlaps, buffer ends, the size limit and
// inputs that force the KMP path (the fuzz target compares with a plain reference).
#include "commands/replace_text.h"

#include <gtest/gtest.h>

namespace x5::commands {
namespace {

TEST(ReplaceAll, Table) {
  const struct {
    std::string text, find, replacement;
    bool ignore_case;
    std::string expected;
  } cases[] = {
      {"foo FOO Foo", "foo", "bar", true, "bar bar bar"},
      {"foo FOO Foo", "foo", "bar", false, "bar FOO Foo"},
      {"aaaaa", "aa", "b", false, "bba"},
      {"aaa", "aa", "aaa", false, "aaaa"},  // the replacement is not scanned again
      {"xabc", "abc", "Y", false, "xY"},
      {"abcx", "abc", "Y", false, "Yx"},
      {"ab", "abc", "Z", false, "ab"},
      {"", "a", "b", false, ""},
      {"abababc", "ababc", "X", false, "abX"},
      {std::string("a\0b\0c", 5), std::string("\0", 1), "-", false, "a-b-c"},
      {"\xC9t\xE9", "\xE9", "e", true, "\xC9te"},  // ASCII folding leaves other bytes alone
  };
  const CaseFold fold;
  for (const auto& c : cases) {
    std::string out = "stale";
    ASSERT_EQ(ReplaceAll(c.text, c.find, c.replacement, c.ignore_case ? &fold : nullptr, 1000, out),
              ReplaceOutcome::kDone)
        << c.text;
    EXPECT_EQ(out, c.expected) << c.text << " / " << c.find;
  }
}

TEST(ReplaceAll, UsesTheGivenFolding) {
  CaseFold fold;
  fold.map[0xC9] = 0xE9;  // as a Western code page folds E acute
  std::string out;
  ASSERT_EQ(ReplaceAll("\xC9t\xE9", "\xE9", "e", &fold, 100, out), ReplaceOutcome::kDone);
  EXPECT_EQ(out, "ete");
}

TEST(ReplaceAll, RefusesToGrowPastTheLimit) {
  std::string out;
  EXPECT_EQ(ReplaceAll("aaaa", "a", "bb", nullptr, 7, out), ReplaceOutcome::kTooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ReplaceAll("aaaa", "a", "bb", nullptr, 8, out), ReplaceOutcome::kDone);
  EXPECT_EQ(out, "bbbbbbbb");
  // The tail after the last occurrence counts too.
  EXPECT_EQ(ReplaceAll("abcdef", "a", "xx", nullptr, 6, out), ReplaceOutcome::kTooLarge);
  EXPECT_EQ(ReplaceAll("abcdef", "zz", "xx", nullptr, 5, out), ReplaceOutcome::kTooLarge);
}

TEST(ReplaceAll, PathologicalNeedlesStayCorrect) {
  // Every position is a candidate that fails late: the finder must change to its KMP scan (a
  // plain scan would take minutes here under the sanitizers).
  std::string text(400000, 'a');
  const std::string find = std::string(4000, 'a') + "b";
  text.replace(300000, find.size(), find);
  const std::string expected = text.substr(0, 300000) + "X" + text.substr(300000 + find.size());
  std::string out;
  const CaseFold fold;
  const std::string upper = std::string(4000, 'A') + "B";
  ASSERT_EQ(ReplaceAll(text, upper, "X", &fold, text.size(), out), ReplaceOutcome::kDone);
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace x5::commands
