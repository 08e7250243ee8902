// Byte layouts of picture files: device-independent bitmap rows, BMP headers, and a reader of the
// size and depth a JPG or BMP file declares.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace x5::pictures {

// Bytes of one row of a device-independent bitmap: bits per pixel × width, rounded up to a whole
// multiple of 4 bytes. 0 for impossible sizes.
[[nodiscard]] int32_t BytesPerScanLine(int32_t bit_count, int32_t width) noexcept;

// Bytes that pad a row of `width` pixels of `channels` bytes each up to the row length.
[[nodiscard]] int32_t DibPadBytes(int32_t width, int32_t channels) noexcept;

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

enum class PictureKind { kJpeg, kBmp };

struct PictureInfo {
  PictureKind kind = PictureKind::kBmp;
  int32_t width = 0;
  int32_t height = 0;     // always positive
  int32_t depth = 0;      // BMP: bits per pixel; JPG: colour components
  int32_t precision = 0;  // JPG: bits per sample; BMP: 0
};

// What a JPG or BMP file's headers say, or nullopt when the bytes are neither (or cut short
// before the size).
[[nodiscard]] std::optional<PictureInfo> ProbePicture(std::span<const uint8_t> bytes) noexcept;

}  // namespace x5::pictures
