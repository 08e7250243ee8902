// Byte layouts of picture files: device-independent bitmap rows and BMP headers.
#pragma once

#include <cstdint>
#include <vector>

namespace x5::pictures {

// Bytes of one row of a device-independent bitmap: bits per pixel × width, rounded up to a whole
// multiple of 4 bytes. 0 for impossible sizes.
[[nodiscard]] int32_t BytesPerScanLine(int32_t bit_count, int32_t width) noexcept;

inline constexpr uint32_t kBmpNoCompression = 0;  // BI_RGB
inline constexpr uint32_t kBmpBitFields = 3;      // BI_BITFIELDS: three colour masks follow

struct DibLayout {
  int32_t width = 0;
  int32_t height = 0;  // rows stored bottom-up
  uint16_t bit_count = 0;
  uint32_t compression = kBmpNoCompression;
  // 4-byte entries between the info header and the rows: palette colours, or the three masks.
  uint32_t table_entries = 0;
};

[[nodiscard]] uint32_t DibImageSize(const DibLayout& layout) noexcept;

// The 14-byte file header and the 40-byte info header of a BMP file for the layout; the caller
// writes the table entries and then the rows. Empty when the layout is impossible.
[[nodiscard]] std::vector<uint8_t> BmpHeaders(const DibLayout& layout);

}  // namespace x5::pictures
