// The picture settings switch: interval, type and the three messages.
#include "commands/picture_settings.h"

#include <gtest/gtest.h>

#include "commands/testing/commands_test_support.h"

namespace x5::commands {
namespace {

struct PictureCase {
  std::string argument;
  pictures::PictureType type_before;
  int32_t interval;
  pictures::PictureType type;
  std::string message;
};

std::string Valid(int32_t interval, const char* type) {
  return "\r\n***** New valid /X5J value is: " + std::to_string(interval) + " msec type is " +
         type + " *****\r\n";
}

TEST(SetPictureOptions, Table) {
  constexpr pictures::PictureType kJpg = pictures::PictureType::kJpg;
  constexpr pictures::PictureType kBmp = pictures::PictureType::kBmp;
  const std::string off =
      "\r\n***** /X5J <0 - JPG or BMP diagnostic pictures will not be produced! *****\r\n";
  const PictureCase cases[] = {
      {" B1000 ", kJpg, 1000, kBmp, Valid(1000, "BMP")},
      {"B 30", kJpg, 30, kBmp, Valid(30, "BMP")},
      {"b1000", kJpg, 200, kJpg, "\r\n***** Invalid /X5J value: b1000 *****\r\n"},
      {"-1", kBmp, -1, kBmp, off},
      {"B", kJpg, 200, kBmp, "\r\n***** Invalid /X5J value: B *****\r\n"},
      {"0", kBmp, 0, kBmp, Valid(0, "BMP")},
      {"2147483648", kJpg, 200, kJpg, "\r\n***** Invalid /X5J value: 2147483648 *****\r\n"},
      {"10000", kJpg, 10000, kJpg, Valid(10000, "JPG")},
      {"B2147483647", kJpg, 10000, kBmp,
       Valid(10000, "BMP") +
           "***** /X5J value 2147483647 cut to the longest picture interval, 10000 msec *****\r\n"},
  };
  for (const PictureCase& c : cases) {
    int32_t interval = 200;
    pictures::PictureType type = c.type_before;
    core::testing::RecordingConsole console;
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(SetPictureOptions(c.argument, interval, type, console), c.interval);
    EXPECT_EQ(interval, c.interval);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(console.lines.size(), 1u);
    EXPECT_EQ(console.lines[0], c.message);
  }
}

}  // namespace
}  // namespace x5::commands
