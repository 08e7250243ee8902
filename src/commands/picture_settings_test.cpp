// The picture settings switch: interval, type and the three messages.
#include "commands/picture_settings.h"

#include <gtest/gtest.h>

#include "commands/testing/commands_test_support.h"

namespace x5::commands {
namespace {

struct PictureCase {
  std::string argument;
  std::string type_before;
  int32_t interval;
  std::string type;
  std::string message;
};

std::string Valid(int32_t interval, const char* type) {
  return "\r\n***** New valid /X5J value is: " + std::to_string(interval) + " msec type is " +
         type + " *****\r\n";
}

TEST(SetPictureOptions, Table) {
  const std::string off =
      "\r\n***** /X5J <0 - JPG or BMP diagnostic pictures will not be produced! *****\r\n";
  const PictureCase cases[] = {
      {" B1000 ", "JPG", 1000, "BMP", Valid(1000, "BMP")},
      {"B 30", "JPG", 30, "BMP", Valid(30, "BMP")},
      {"b1000", "JPG", 200, "JPG", "\r\n***** Invalid /X5J value: b1000 *****\r\n"},
      {"-1", "BMP", -1, "BMP", off},
      {"B", "JPG", 200, "BMP", "\r\n***** Invalid /X5J value: B *****\r\n"},
      {"0", "BMP", 0, "BMP", Valid(0, "BMP")},
      {"2147483648", "JPG", 200, "JPG", "\r\n***** Invalid /X5J value: 2147483648 *****\r\n"},
      {"10000", "JPG", 10000, "JPG", Valid(10000, "JPG")},
      {"B2147483647", "JPG", 10000, "BMP",
       Valid(10000, "BMP") +
           "***** /X5J value 2147483647 cut to the longest picture interval, 10000 msec *****\r\n"},
  };
  for (const PictureCase& c : cases) {
    int32_t interval = 200;
    std::string type = c.type_before;
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
