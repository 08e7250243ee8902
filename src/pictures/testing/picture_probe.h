// A reader of the size and depth a JPG or BMP file declares: how tests look at the pictures the
// runner wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace x5::pictures::testing {

enum class PictureKind { kJpeg, kBmp };

struct PictureInfo {
  PictureKind kind = PictureKind::kBmp;
  int32_t width = 0;
  int32_t height = 0;     // always positive
  int32_t depth = 0;      // BMP: bits per pixel; JPG: colour components
  int32_t precision = 0;  // JPG: bits per sample; BMP: 0
};

namespace detail {

inline constexpr uint32_t kBmpFileHeaderSize = 14;
inline constexpr uint32_t kBmpInfoHeaderSize = 40;

inline uint32_t Get16Le(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8;
}

inline uint32_t Get32Le(std::span<const uint8_t> b, size_t at) {
  return Get16Le(b, at) | Get16Le(b, at + 2) << 16;
}

inline uint32_t Get16Be(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 8 | static_cast<uint32_t>(b[at + 1]);
}

inline bool IsStartOfFrame(uint8_t marker) {
  // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) are not frames.
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

inline std::optional<PictureInfo> ProbeJpeg(std::span<const uint8_t> b) {
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF)
      return std::nullopt;
    const uint8_t marker = b[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length follows
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA)  // end of image, or entropy-coded data: no frame seen
      return std::nullopt;
    const uint32_t length = Get16Be(b, at + 2);
    if (length < 2)
      return std::nullopt;
    if (IsStartOfFrame(marker)) {
      if (length < 8 || at + 2 + 8 > b.size())
        return std::nullopt;
      PictureInfo info;
      info.kind = PictureKind::kJpeg;
      info.precision = b[at + 4];
      info.height = static_cast<int32_t>(Get16Be(b, at + 5));
      info.width = static_cast<int32_t>(Get16Be(b, at + 7));
      info.depth = b[at + 9];
      return info;
    }
    at += 2 + length;
  }
  return std::nullopt;
}

inline std::optional<PictureInfo> ProbeBmp(std::span<const uint8_t> b) {
  if (b.size() < kBmpFileHeaderSize + 16)
    return std::nullopt;
  const uint32_t header_size = Get32Le(b, 14);
  PictureInfo info;
  info.kind = PictureKind::kBmp;
  if (header_size == 12) {  // OS/2 core header: 16-bit sizes
    info.width = static_cast<int32_t>(Get16Le(b, 18));
    info.height = static_cast<int32_t>(Get16Le(b, 20));
    info.depth = static_cast<int32_t>(Get16Le(b, 24));
  } else if (header_size >= kBmpInfoHeaderSize &&
             b.size() >= kBmpFileHeaderSize + kBmpInfoHeaderSize) {
    info.width = static_cast<int32_t>(Get32Le(b, 18));
    const int32_t height = static_cast<int32_t>(Get32Le(b, 22));
    if (height == INT32_MIN)
      return std::nullopt;
    info.height = height < 0 ? -height : height;
    info.depth = static_cast<int32_t>(Get16Le(b, 28));
  } else {
    return std::nullopt;
  }
  const uint32_t bits_offset = Get32Le(b, 10);
  if (info.width <= 0 || bits_offset < kBmpFileHeaderSize + header_size)
    return std::nullopt;
  return info;
}

}  // namespace detail

// What a JPG or BMP file's headers say, or nullopt when the bytes are neither (or cut short
// before the size).
inline std::optional<PictureInfo> ProbePicture(std::span<const uint8_t> bytes) noexcept {
  if (bytes.size() >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
    return detail::ProbeJpeg(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
    return detail::ProbeBmp(bytes);
  return std::nullopt;
}

}  // namespace x5::pictures::testing
