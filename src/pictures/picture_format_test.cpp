// Row layouts, BMP headers and the header reader of picture files.
#include "pictures/picture_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace x5::pictures {
namespace {

TEST(PictureFormat, RowsArePaddedToFourBytes) {
  struct Row {
    int32_t bits, width, bytes;
  };
  const Row rows[] = {{24, 101, 304}, {24, 100, 300}, {1, 33, 8},
                      {16, 3, 8},     {24, 0, 0},     {0, 5, 0}};
  for (const Row& r : rows)
    EXPECT_EQ(BytesPerScanLine(r.bits, r.width), r.bytes) << r.bits << "x" << r.width;
  EXPECT_EQ(DibPadBytes(101, 3), 1);  // 303 bytes of pixels in a 304-byte row
  EXPECT_EQ(DibPadBytes(640, 3), 0);
  EXPECT_EQ(DibPadBytes(2, 3), 2);
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, &bytes[at], 4);
  return value;
}

TEST(PictureFormat, BmpHeadersDescribeTheRows) {
  const DibLayout layout{101, 7, 24, kBmpNoCompression, 0};
  const std::vector<uint8_t> h = BmpHeaders(layout);
  ASSERT_EQ(h.size(), 54u);
  EXPECT_EQ(h[0] + h[1], 'B' + 'M');
  EXPECT_EQ(U32At(h, 10), 54u);  // offset of the rows
  EXPECT_EQ(U32At(h, 34), 304u * 7);
  EXPECT_EQ(U32At(h, 2), 54u + 304 * 7);  // file size
  std::vector<uint8_t> file = h;
  file.resize(U32At(h, 2));
  const auto info = ProbePicture(file);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->kind, PictureKind::kBmp);
  EXPECT_EQ(info->width, 101);
  EXPECT_EQ(info->height, 7);
  EXPECT_EQ(info->depth, 24);
}

TEST(PictureFormat, PaletteAndMasksMoveTheRows) {
  const std::vector<uint8_t> pal = BmpHeaders({4, 4, 8, kBmpNoCompression, 256});
  EXPECT_EQ(U32At(pal, 10), 54u + 1024);
  EXPECT_EQ(U32At(pal, 46), 256u);  // colours used
  const std::vector<uint8_t> masks = BmpHeaders({4, 4, 16, kBmpBitFields, 3});
  EXPECT_EQ(U32At(masks, 10), 54u + 12);
  EXPECT_EQ(U32At(masks, 46), 0u);
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
    EXPECT_EQ(info->kind, PictureKind::kJpeg);
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->height, 480);
    EXPECT_EQ(info->depth, 3);
    EXPECT_EQ(info->precision, 8);
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
