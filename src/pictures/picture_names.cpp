// Names of diagnostic picture files: window titles made fit for a file name, and the file names.
#include "pictures/picture_names.h"

#include <new>

namespace x5::modCapture {
namespace {

constexpr size_t kTitleLimit = 100;

bool Replaced(unsigned char c) {
  switch (c) {
    case '.':
    case ':':
    case '/':
    case ',':
    case '\\':
    // Not allowed in Windows file names: kept, they would make the file impossible to create.
    case '?':
    case '*':
    case '|':
    case '"':
    case '<':
    case '>':
      return true;
    default:
      return c < 0x20 || c == 0x7F;
  }
}

}  // namespace

std::string SanitiseTitle(std::string_view title) noexcept {
  try {
    std::string out;
    const size_t limit = title.size() < kTitleLimit ? title.size() : kTitleLimit;
    out.reserve(limit);
    for (size_t i = 0; i < limit; ++i) {
      const unsigned char c = static_cast<unsigned char>(title[i]);
      if (c == 0)
        break;
      out.push_back(Replaced(c) ? '_' : static_cast<char>(c));
    }
    return out;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

bool JpegWanted(std::string_view picture_type) noexcept {
  return picture_type == "JPG";
}

std::string PictureFileName(std::string_view prefix,
                            uint32_t process_id,
                            int32_t window_number,
                            uint32_t window_handle,
                            std::string_view sanitised_title,
                            std::string_view extension) {
  std::string name;
  name.reserve(prefix.size() + sanitised_title.size() + 48);
  name.append(prefix);
  name += '#';
  name += std::to_string(process_id);
  name += '_';
  name += std::to_string(window_number);
  name += '#';
  name += std::to_string(window_handle);
  name += '_';
  name.append(sanitised_title);
  name += '.';
  name.append(extension);
  return name;
}

std::string PartialPictureName(std::string_view file_name) {
  std::string name(file_name);
  name.append(kPartialSuffix);
  return name;
}

std::vector<std::string> OldPicturePatterns(std::string_view picture_type) {
  std::vector<std::string> patterns;
  patterns.push_back("#*." + std::string(picture_type));
  if (JpegWanted(picture_type))
    patterns.push_back("#*.bmp");
  patterns.push_back("#*" + std::string(kPartialSuffix));
  return patterns;
}

}  // namespace x5::modCapture
