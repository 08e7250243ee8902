// Outside bytes as shown: control bytes visible, everything else unchanged.
#include "core/shown_text.h"

#include <gtest/gtest.h>

namespace x5::core {
namespace {

TEST(ShownText, ControlBytesBecomeCaretPairs) {
  using namespace std::string_literals;
  EXPECT_EQ(ShownText("plain \"text\" \xE9\xFF"), "plain \"text\" \xE9\xFF");
  EXPECT_EQ(ShownText("a\r\nb\tc\x1B[2J\x7F"s + '\0'), "a^M^Jb^Ic^[[2J^?^@");
  std::string out = "keep ";
  AppendShown(out, "\x01");
  EXPECT_EQ(out, "keep ^A");
}

}  // namespace
}  // namespace x5::core
