// The picture settings switch "/X5J": interval and file type of the diagnostic pictures.
#include "commands/picture_settings.h"

#include <string>

#include "conditions/parse_number.h"
#include "core/ascii_text.h"
#include "core/fault.h"
#include "pictures/capture_bounds.h"

namespace x5::commands {

int32_t SetPictureOptions(std::string_view argument,
                          int32_t& interval,
                          pictures::PictureType& type,
                          core::ConsoleSink& console) noexcept {
  try {
    const std::string_view text = core::Trim(argument);
    std::string_view number_text = text;
    if (!text.empty() && text.front() == 'B') {
      type = pictures::PictureType::kBmp;
      number_text = core::Trim(text.substr(1));
    }
    // No digits at all is no interval, even where the number parser would read it as 0.
    const int32_t number = number_text.empty() ? conditions::kInvalidNumber
                                               : conditions::ParseNumber(number_text, false);
    if (number == conditions::kInvalidNumber) {
      console.Line("\r\n***** Invalid /X5J value: " + std::string(text) + " *****\r\n");
      return interval;
    }
    // Cut to the longest interval: each picture waits this long, and a KILL waits for them.
    interval = pictures::BoundedPictureInterval(number);
    if (number > interval) {
      console.Line("\r\n***** New valid /X5J value is: " + std::to_string(interval) +
                   " msec type is " + std::string(pictures::PictureTypeText(type)) +
                   " *****\r\n***** /X5J value " + std::to_string(number) +
                   " cut to the longest picture interval, " + std::to_string(interval) +
                   " msec *****\r\n");
    } else if (number >= 0) {
      console.Line("\r\n***** New valid /X5J value is: " + std::to_string(number) +
                   " msec type is " + std::string(pictures::PictureTypeText(type)) + " *****\r\n");
    } else {
      console.Line(
          "\r\n***** /X5J <0 - JPG or BMP diagnostic pictures will not be produced! *****\r\n");
    }
  } catch (...) {
    // The settings are what the switch made of them so far; the console names the fault.
    core::ReportFault(console, "/X5J", core::UnexpectedFault("SetPictureOptions"));
  }
  return interval;
}

}  // namespace x5::commands
