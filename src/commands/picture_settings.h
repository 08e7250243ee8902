// The picture settings switch "/X5J": interval and file type of the diagnostic pictures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/interfaces.h"
#include "pictures/picture_names.h"

namespace x5::commands {

// `argument` is the text after "/X5J" (trimmed here): an optional capital "B" for BMP pictures,
// then the interval in milliseconds (negative: no pictures). Returns the interval afterwards.
int32_t SetPictureOptions(std::string_view argument,
                          int32_t& interval,
                          pictures::PictureType& type,
                          core::ConsoleSink& console) noexcept;

}  // namespace x5::commands
