// Byte layouts of picture files: device-independent bitmap rows and BMP headers.
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

}  // namespace

int32_t BytesPerScanLine(int32_t bit_count, int32_t width) noexcept {
  if (bit_count <= 0 || width < 0)
    return 0;
  const int64_t bits = static_cast<int64_t>(bit_count) * width;
  const int64_t bytes = (bits + 31) / 32 * 4;
  return bytes > INT32_MAX ? 0 : static_cast<int32_t>(bytes);
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

}  // namespace x5::pictures
