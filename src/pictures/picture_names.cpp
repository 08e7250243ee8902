// Names of diagnostic picture files: window titles made fit for a file name, and the file names.
#include "pictures/picture_names.h"

#include <new>

#include "core/ascii_text.h"

namespace x5::pictures {
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

std::string_view PictureTypeText(PictureType type) noexcept {
  return type == PictureType::kJpg ? "JPG" : "BMP";
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

namespace {

// Ends in "." and the extension, after the leading "#".
bool HasExtension(std::string_view name, std::string_view extension) noexcept {
  return !extension.empty() && name.size() >= extension.size() + 2 &&
         name[name.size() - extension.size() - 1] == '.' &&
         core::EndsWithIgnoringCase(name, extension);
}

}  // namespace

bool IsOldPictureName(std::string_view name, PictureType picture_type) noexcept {
  if (name.empty() || name.front() != '#')
    return false;
  return HasExtension(name, PictureTypeText(picture_type)) ||
         (picture_type == PictureType::kJpg && HasExtension(name, "bmp")) ||
         (name.size() > kPartialSuffix.size() && core::EndsWithIgnoringCase(name, kPartialSuffix));
}

}  // namespace x5::pictures
