// Fuzzes the picture header reader: any bytes, never a read outside them, and what it reports of a
// BMP it accepted matches the headers it was built from.
#include <vector>

#include "pictures/picture_format.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const auto info = x5::pictures::ProbePicture(bytes);
  Check(!info || (info->width >= 0 && info->height >= 0));

  // Round trip: a layout taken from the input gives headers the reader reads back the same.
  if (size >= 6) {
    x5::pictures::DibLayout layout;
    layout.width = 1 + (data[0] | data[1] << 8);
    layout.height = 1 + (data[2] | data[3] << 8);
    const uint16_t depths[] = {1, 4, 8, 16, 24, 32};
    layout.bit_count = depths[data[4] % 6];
    layout.compression = layout.bit_count == 16 && (data[5] & 1) ? x5::pictures::kBmpBitFields : 0;
    layout.table_entries = layout.compression == x5::pictures::kBmpBitFields ? 3
                           : layout.bit_count <= 8 ? 1u << layout.bit_count
                                                   : 0;
    std::vector<uint8_t> file = x5::pictures::BmpHeaders(layout);
    const uint64_t total =
        uint64_t{54} + 4 * layout.table_entries +
        uint64_t(x5::pictures::BytesPerScanLine(layout.bit_count, layout.width)) *
            uint64_t(layout.height);
    Check(file.empty() == (total > UINT32_MAX));  // only a file over 4 GiB has no headers
    if (file.empty())
      return 0;
    const auto back = x5::pictures::ProbePicture(file);
    Check(back && back->kind == x5::pictures::PictureKind::kBmp && back->width == layout.width &&
          back->height == layout.height && back->depth == layout.bit_count);
  }
  return 0;
}
