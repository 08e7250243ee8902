// The picture settings switch: interval, type and the three messages.
#include "commands/picture_settings.h"

#include <gtest/gtest.h>

#include "commands/commands_test_support.h"

namespace x5 {
namespace {

struct PictureCase {
  std::string argument;
  std::string type_before;
  int32_t interval;
  std::string type;
  std::string message;
};

TEST(SetPictureOptions, Table) {
  const std::string off =
      "\r\n***** /X5J <0 - JPG or BMP diagnostic pictures will not be produced! *****\r\n";
  const PictureCase cases[] = {
      {"500", "JPG", 500, "JPG",
       "\r\n***** New valid /X5J value is: 500 msec type is JPG *****\r\n"},
      {" B1000 ", "JPG", 1000, "BMP",
       "\r\n***** New valid /X5J value is: 1000 msec type is BMP *****\r\n"},
      {"B 30", "JPG", 30, "BMP",
       "\r\n***** New valid /X5J value is: 30 msec type is BMP *****\r\n"},
      {"b1000", "JPG", 200, "JPG", "\r\n***** Invalid /X5J value: b1000 *****\r\n"},
      {"-1", "BMP", -1, "BMP", off},
      {"B", "JPG", 200, "BMP", "\r\n***** Invalid /X5J value: B *****\r\n"},
      {"", "JPG", 200, "JPG", "\r\n***** Invalid /X5J value:  *****\r\n"},
      {"0", "BMP", 0, "BMP", "\r\n***** New valid /X5J value is: 0 msec type is BMP *****\r\n"},
      {"12a", "JPG", 200, "JPG", "\r\n***** Invalid /X5J value: 12a *****\r\n"},
      {"2147483648", "JPG", 200, "JPG", "\r\n***** Invalid /X5J value: 2147483648 *****\r\n"},
      {"10000", "JPG", 10000, "JPG",
       "\r\n***** New valid /X5J value is: 10000 msec type is JPG *****\r\n"},
      {"B2147483647", "JPG", 10000, "BMP",
       "\r\n***** New valid /X5J value is: 10000 msec type is BMP *****\r\n"
       "***** /X5J value 2147483647 cut to the longest picture interval, 10000 msec *****\r\n"},
  };
  for (const PictureCase& c : cases) {
    int32_t interval = 200;
    std::string type = c.type_before;
    command_testing::RecordingConsole console;
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(SetPictureOptions(c.argument, interval, type, console), c.interval);
    EXPECT_EQ(interval, c.interval);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(console.lines.size(), 1u);
    EXPECT_EQ(console.lines[0], c.message);
  }
}

}  // namespace
}  // namespace x5
