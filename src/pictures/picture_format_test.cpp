// Row layouts, BMP headers and the header reader of picture files.
#include "pictures/picture_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "pictures/testing/picture_probe.h"

namespace x5::pictures {
namespace {

using testing::PictureKind;
using testing::ProbePicture;

TEST(PictureFormat, RowsArePaddedToFourBytes) {
  struct Row {
    int32_t bits, width, bytes;
  };
  const Row rows[] = {{24, 101, 304}, {24, 100, 300}, {1, 33, 8},
                      {16, 3, 8},     {24, 0, 0},     {0, 5, 0}};
  for (const Row& r : rows)
    EXPECT_EQ(BytesPerScanLine(r.bits, r.width), r.bytes) << r.bits << "x" << r.width;
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, &bytes[at], 4);
  return value;
}

// At each depth: where the rows start (past a palette or the masks), their size, the colours used,
// and the reader reads back the layout the headers were built from.
TEST(PictureFormat, BmpHeadersDescribeTheRows) {
  const struct {
    DibLayout layout;
    uint32_t rows_at, image, colours;
  } cases[] = {
      {{101, 7, 24, kBmpNoCompression, 0}, 54, 304 * 7, 0},
      {{4, 4, 8, kBmpNoCompression, 256}, 54 + 1024, 16, 256},
      {{4, 4, 16, kBmpBitFields, 3}, 54 + 12, 32, 0},
      {{33, 2, 1, kBmpNoCompression, 2}, 54 + 8, 16, 2},
      {{5, 1, 4, kBmpNoCompression, 16}, 54 + 64, 4, 16},
      {{3, 5, 32, kBmpNoCompression, 0}, 54, 60, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> file = BmpHeaders(c.layout);
    ASSERT_EQ(file.size(), 54u) << c.layout.bit_count;
    EXPECT_EQ(file[0] + file[1], 'B' + 'M');
    EXPECT_EQ(std::tuple(U32At(file, 10), U32At(file, 34), U32At(file, 2), U32At(file, 46)),
              std::tuple(c.rows_at, c.image, c.rows_at + c.image, c.colours));
    file.resize(U32At(file, 2));
    const auto info = ProbePicture(file);
    ASSERT_TRUE(info);
    EXPECT_EQ(std::tuple(info->kind, info->width, info->height, info->depth),
              std::tuple(PictureKind::kBmp, c.layout.width, c.layout.height,
                         int32_t{c.layout.bit_count}));
  }
  EXPECT_TRUE(BmpHeaders({4, -4, 24, kBmpNoCompression, 0}).empty());
  EXPECT_TRUE(BmpHeaders({65536, 65536, 32, kBmpNoCompression, 0}).empty());  // over 4 GiB
}

// A minimal baseline JPEG header: SOI, APP0, DQT stub, SOF0 with the given size.
std::vector<uint8_t> JpegHeader(uint16_t w, uint16_t h, uint8_t frame = 0xC0) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10,  'J',  'F',  'I', 'F',  0,
                            1,    1,    0,    0,    1,    0,     1,    0,    0,   0xFF, 0xFF,
                            0xDB, 0x00, 0x03, 0x00, 0xFF, frame, 0x00, 0x11, 0x08};
  const uint8_t size[] = {static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h),
                          static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w), 3};
  b.insert(b.end(), std::begin(size), std::end(size));
  b.resize(b.size() + 9, 1);  // three components
  return b;
}

TEST(PictureFormat, JpegFrameGivesSizeAndComponents) {
  for (uint8_t frame : {0xC0, 0xC1, 0xC2}) {
    const auto info = ProbePicture(JpegHeader(640, 480, frame));
    ASSERT_TRUE(info);
    EXPECT_EQ(std::tuple(info->kind, info->width, info->height, info->depth, info->precision),
              std::tuple(PictureKind::kJpeg, 640, 480, 3, 8));
  }
  EXPECT_FALSE(ProbePicture(JpegHeader(1, 1, 0xC4)));  // Huffman table, not a frame
}

TEST(PictureFormat, CutOrForeignBytesAreNotPictures) {
  const std::vector<uint8_t> jpeg = JpegHeader(10, 20);
  for (size_t n = 0; n < jpeg.size() - 9; ++n)
    EXPECT_FALSE(ProbePicture(std::span(jpeg.data(), n))) << n;
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  EXPECT_FALSE(ProbePicture(png));
  std::vector<uint8_t> bmp = BmpHeaders({2, 2, 24, kBmpNoCompression, 0});
  bmp[10] = 3;  // rows would overlap the headers
  EXPECT_FALSE(ProbePicture(bmp));
}

}  // namespace
}  // namespace x5::pictures
