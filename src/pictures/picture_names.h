// Names of diagnostic picture files: window titles made fit for a file name, and the file names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace x5::pictures {

// At most the first 100 characters of the title, cut at a NUL, with every character that cannot
// stand in a file name (and ".", ",") replaced by "_". Empty on any error.
std::string SanitiseTitle(std::string_view title) noexcept;

// The type of the diagnostic pictures: JPG (a BMP where a JPG cannot be written) or BMP.
enum class PictureType : uint8_t { kJpg, kBmp };

// "JPG" or "BMP": the type as the console names it, and the pictures' extension.
[[nodiscard]] std::string_view PictureTypeText(PictureType type) noexcept;

// prefix "#" process "_" number "#" window "_" title "." extension, numbers in decimal.
std::string PictureFileName(std::string_view prefix,
                            uint32_t process_id,
                            int32_t window_number,
                            uint32_t window_handle,
                            std::string_view sanitised_title,
                            std::string_view extension);

// Suffix of the name a picture is written under before it is complete (renamed afterwards).
inline constexpr std::string_view kPartialSuffix = ".x5part";

std::string PartialPictureName(std::string_view file_name);

// True for the real (long) name of a picture an earlier capture left: "#", anything, then "." and
// the picture type, the BMP fallback of JPG pictures, or the suffix of an unfinished file; letters
// in either case. Matched here rather than by a search pattern, which would match 8.3 short names
// too ("#*.JPG" finds "#a.jpgx" through its short name).
[[nodiscard]] bool IsOldPictureName(std::string_view name, PictureType picture_type) noexcept;

}  // namespace x5::pictures
