// The picture settings switch "/X5J": interval and file type of the diagnostic pictures.
#pragma once

#include <cstdint>
#include <string_view>

#include "commands/command_context.h"
#include "runner/interfaces.h"

namespace x5 {

// `argument` is the text after "/X5J" (trimmed here): an optional capital "B" for BMP pictures,
// then the interval in milliseconds (negative: no pictures). Returns the interval afterwards.
int32_t SetPictureOptions(std::string_view argument,
                          PictureSettings& settings,
                          ConsoleSink& console) noexcept;

}  // namespace x5
