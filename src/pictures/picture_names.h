// Names of diagnostic picture files: window titles made fit for a file name, and the file names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace x5::modCapture {

// At most the first 100 characters of the title, cut at a NUL, with every character that cannot
// stand in a file name (and ".", ",") replaced by "_". Empty on any error.
[[nodiscard]] std::string SanitiseTitle(std::string_view title) noexcept;

// True when pictures are written as JPG first (the type is exactly "JPG").
[[nodiscard]] bool JpegWanted(std::string_view picture_type) noexcept;

// prefix "#" process "_" number "#" window "_" title "." extension, numbers in decimal.
[[nodiscard]] std::string PictureFileName(std::string_view prefix,
                                          uint32_t process_id,
                                          int32_t window_number,
                                          uint32_t window_handle,
                                          std::string_view sanitised_title,
                                          std::string_view extension);

// Suffix of the name a picture is written under before it is complete (renamed afterwards).
inline constexpr std::string_view kPartialSuffix = ".x5part";

[[nodiscard]] std::string PartialPictureName(std::string_view file_name);

// File patterns, relative to the picture prefix, of the pictures an earlier capture left: the
// picture type's own, the BMP fallback of JPG pictures, and unfinished files.
[[nodiscard]] std::vector<std::string> OldPicturePatterns(std::string_view picture_type);

}  // namespace x5::modCapture
