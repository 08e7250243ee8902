// DibSection: a device-independent bitmap held in a memory device context, whose pixel memory a
// picture encoder reads directly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/unique_handle.h"

namespace x5::pictures {

class DibSection {
 public:
  DibSection() noexcept;
  DibSection(const DibSection&) = delete;
  DibSection& operator=(const DibSection&) = delete;
  ~DibSection() { CleanUp(); }

  // Fills the header (24 bits for 3 channels, 32 otherwise) and makes a DIB section on `lhDC`.
  bool CreateDIB(HDC lhDC,
                 int32_t lWidth,
                 int32_t lHeight,
                 int32_t lChannels,
                 HBITMAP& hDib) noexcept;
  // A new section of that size in a memory device context of its own.
  bool Create(int32_t lWidth, int32_t lHeight, int32_t lChannels) noexcept;
  // A 24-bit copy of the bitmap (which must not be selected into any device context).
  bool LoadFromPictureHandle(HBITMAP PictureHandle) noexcept;
  // A 24-bit copy of a BMP file.
  bool Load(const std::string& Name) noexcept;

  int32_t BytesPerScanLine() const noexcept;
  int32_t dib_width() const noexcept { return header_.biWidth; }
  int32_t dib_height() const noexcept { return header_.biHeight; }
  int32_t dib_channels() const noexcept { return header_.biBitCount / 8; }

  // Copies the section to `lhDC`; a negative destination width or height stands for the
  // section's own.
  void PaintPicture(HDC lhDC,
                    int32_t lDestLeft = 0,
                    int32_t lDestTop = 0,
                    int32_t lDestWidth = -1,
                    int32_t lDestHeight = -1,
                    int32_t lSrcLeft = 0,
                    int32_t lSrcTop = 0,
                    DWORD eRop = SRCCOPY) const noexcept;

  HDC hdc() const noexcept { return dc_.get(); }
  HBITMAP hDib() const noexcept { return static_cast<HBITMAP>(dib_.get()); }
  // First byte of the pixels; rows are stored bottom-up, BytesPerScanLine() apart.
  uint8_t* DIBSectionBitsPtr() const noexcept { return bits_; }

  void CleanUp() noexcept;

 private:
  void ResetHeader() noexcept;
  bool SelectSection() noexcept;

  win::ScopedCreatedDc dc_;
  win::ScopedGdiObject dib_;
  HGDIOBJ old_bitmap_ = nullptr;
  uint8_t* bits_ = nullptr;
  BITMAPINFOHEADER header_{};
};

}  // namespace x5::pictures
