// The replace transform: exact and case-blind matching, overlaps, buffer ends, the size limit and
// inputs that force the KMP path (the fuzz target compares with a plain reference).
#include "commands/replace_text.h"

#include <gtest/gtest.h>

namespace x5::commands {
namespace {

TEST(ReplaceAll, Table) {
  const CaseFold ascii;
  CaseFold western = ascii;
  western.map[0xC9] = 0xE9;  // as a Western code page folds E acute
  const struct {
    std::string text, find, replacement;
    const CaseFold* fold;
    std::string expected;
  } cases[] = {
      {"foo FOO Foo", "foo", "bar", &ascii, "bar bar bar"},
      {"foo FOO Foo", "foo", "bar", nullptr, "bar FOO Foo"},
      {"aaaaa", "aa", "b", nullptr, "bba"},
      {"aaa", "aa", "aaa", nullptr, "aaaa"},  // the replacement is not scanned again
      {"xabc", "abc", "Y", nullptr, "xY"},
      {"abcx", "abc", "Y", nullptr, "Yx"},
      {"ab", "abc", "Z", nullptr, "ab"},
      {"", "a", "b", nullptr, ""},
      {"abababc", "ababc", "X", nullptr, "abX"},
      {std::string("a\0b\0c", 5), std::string("\0", 1), "-", nullptr, "a-b-c"},
      {"\xC9t\xE9", "\xE9", "e", &ascii, "\xC9te"},  // ASCII folding leaves other bytes alone
      {"\xC9t\xE9", "\xE9", "e", &western, "ete"},
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    ASSERT_EQ(ReplaceAll(c.text, c.find, c.replacement, c.fold, 1000, out), ReplaceOutcome::kDone)
        << c.text;
    EXPECT_EQ(out, c.expected) << c.text << " / " << c.find;
  }
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
