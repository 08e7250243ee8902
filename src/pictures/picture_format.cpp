// Byte layouts of picture files: device-independent bitmap rows, BMP headers, and a reader of the
// size and depth a JPG or BMP file declares.
#include "pictures/picture_format.h"

#include <new>

namespace x5::pictures {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

uint32_t Get16Le(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8;
}

uint32_t Get32Le(std::span<const uint8_t> b, size_t at) {
  return Get16Le(b, at) | Get16Le(b, at + 2) << 16;
}

uint32_t Get16Be(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 8 | static_cast<uint32_t>(b[at + 1]);
}

bool IsStartOfFrame(uint8_t marker) {
  // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) are not frames.
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<PictureInfo> ProbeJpeg(std::span<const uint8_t> b) {
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

std::optional<PictureInfo> ProbeBmp(std::span<const uint8_t> b) {
  if (b.size() < kFileHeaderSize + 16)
    return std::nullopt;
  const uint32_t header_size = Get32Le(b, 14);
  PictureInfo info;
  info.kind = PictureKind::kBmp;
  if (header_size == 12) {  // OS/2 core header: 16-bit sizes
    info.width = static_cast<int32_t>(Get16Le(b, 18));
    info.height = static_cast<int32_t>(Get16Le(b, 20));
    info.depth = static_cast<int32_t>(Get16Le(b, 24));
  } else if (header_size >= kInfoHeaderSize && b.size() >= kFileHeaderSize + kInfoHeaderSize) {
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
  if (info.width <= 0 || bits_offset < kFileHeaderSize + header_size)
    return std::nullopt;
  return info;
}

}  // namespace

int32_t BytesPerScanLine(int32_t bit_count, int32_t width) noexcept {
  if (bit_count <= 0 || width < 0)
    return 0;
  const int64_t bits = static_cast<int64_t>(bit_count) * width;
  const int64_t bytes = (bits + 31) / 32 * 4;
  return bytes > INT32_MAX ? 0 : static_cast<int32_t>(bytes);
}

int32_t DibPadBytes(int32_t width, int32_t channels) noexcept {
  const int32_t row = BytesPerScanLine(channels * 8, width);
  return row == 0 ? 0 : row - width * channels;
}

uint32_t DibImageSize(const DibLayout& layout) noexcept {
  const int64_t size =
      static_cast<int64_t>(BytesPerScanLine(layout.bit_count, layout.width)) * layout.height;
  return size < 0 || size > UINT32_MAX ? 0 : static_cast<uint32_t>(size);
}

std::vector<uint8_t> BmpHeaders(const DibLayout& layout) {
  const uint32_t image = DibImageSize(layout);
  if (layout.width <= 0 || layout.height <= 0 || image == 0 || layout.table_entries > 256)
    return {};
  const uint32_t bits_offset = kFileHeaderSize + kInfoHeaderSize + 4 * layout.table_entries;
  if (image > UINT32_MAX - bits_offset)
    return {};
  std::vector<uint8_t> out;
  out.reserve(kFileHeaderSize + kInfoHeaderSize);
  out.push_back('B');
  out.push_back('M');
  Put32(out, bits_offset + image);
  Put32(out, 0);  // reserved
  Put32(out, bits_offset);
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<uint32_t>(layout.width));
  Put32(out, static_cast<uint32_t>(layout.height));
  Put16(out, 1);  // planes
  Put16(out, layout.bit_count);
  Put32(out, layout.compression);
  Put32(out, image);
  Put32(out, 3780);  // 96 dots per inch, in dots per metre
  Put32(out, 3780);
  Put32(out, layout.compression == kBmpBitFields ? 0 : layout.table_entries);
  Put32(out, 0);  // all colours important
  return out;
}

std::optional<PictureInfo> ProbePicture(std::span<const uint8_t> bytes) noexcept {
  if (bytes.size() >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
    return ProbeJpeg(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
    return ProbeBmp(bytes);
  return std::nullopt;
}

}  // namespace x5::pictures
