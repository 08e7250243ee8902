// DibSection: a device-independent bitmap held in a memory device context, whose pixel memory a
// picture encoder reads directly.
#include "pictures/dib_section_win.h"

#include "pictures/picture_format.h"

namespace x5::pictures {

DibSection::DibSection() noexcept {
  ResetHeader();
}

void DibSection::ResetHeader() noexcept {
  header_ = BITMAPINFOHEADER{};
  header_.biSize = sizeof(BITMAPINFOHEADER);
}

int32_t DibSection::BytesPerScanLine() const noexcept {
  return x5::pictures::BytesPerScanLine(header_.biBitCount, header_.biWidth);
}

bool DibSection::CreateDIB(HDC lhDC,
                           int32_t lWidth,
                           int32_t lHeight,
                           int32_t lChannels,
                           HBITMAP& hDib) noexcept {
  ResetHeader();
  header_.biWidth = lWidth;
  header_.biHeight = lHeight;
  header_.biPlanes = 1;
  header_.biBitCount = lChannels == 3 ? 24 : 32;
  header_.biCompression = BI_RGB;
  header_.biSizeImage = static_cast<DWORD>(BytesPerScanLine()) * static_cast<DWORD>(lHeight);
  void* bits = nullptr;
  hDib = CreateDIBSection(lhDC, reinterpret_cast<BITMAPINFO*>(&header_), DIB_RGB_COLORS, &bits,
                          nullptr, 0);
  bits_ = hDib != nullptr ? static_cast<uint8_t*>(bits) : nullptr;
  return hDib != nullptr;
}

bool DibSection::SelectSection() noexcept {
  old_bitmap_ = SelectObject(dc_.get(), dib_.get());
  if (old_bitmap_ == nullptr || old_bitmap_ == HGDI_ERROR) {
    old_bitmap_ = nullptr;
    return false;
  }
  return true;
}

bool DibSection::Create(int32_t lWidth, int32_t lHeight, int32_t lChannels) noexcept {
  CleanUp();
  dc_.reset(CreateCompatibleDC(nullptr));
  if (!dc_)
    return false;
  HBITMAP section = nullptr;
  if (!CreateDIB(dc_.get(), lWidth, lHeight, lChannels, section)) {
    CleanUp();
    return false;
  }
  dib_.reset(section);
  if (!SelectSection()) {
    CleanUp();
    return false;
  }
  return true;
}

bool DibSection::LoadFromPictureHandle(HBITMAP PictureHandle) noexcept {
  CleanUp();
  dc_.reset(CreateCompatibleDC(nullptr));
  if (!dc_ || PictureHandle == nullptr) {
    CleanUp();
    return false;
  }
  // Room for the colour table or masks GetDIBits may add after the header.
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  if (GetDIBits(dc_.get(), PictureHandle, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS) == 0 ||
      info.header.biWidth <= 0 || info.header.biHeight == 0) {
    CleanUp();
    return false;
  }
  header_ = info.header;
  if (header_.biHeight < 0)
    header_.biHeight = -header_.biHeight;
  header_.biCompression = BI_RGB;
  header_.biClrUsed = 0;
  header_.biClrImportant = 0;
  header_.biBitCount = 24;
  header_.biSizeImage =
      static_cast<DWORD>(BytesPerScanLine()) * static_cast<DWORD>(header_.biHeight);
  void* bits = nullptr;
  dib_.reset(CreateDIBSection(dc_.get(), reinterpret_cast<BITMAPINFO*>(&header_), DIB_RGB_COLORS,
                              &bits, nullptr, 0));
  if (!dib_ || bits == nullptr) {
    CleanUp();
    return false;
  }
  bits_ = static_cast<uint8_t*>(bits);
  if (!SelectSection()) {
    CleanUp();
    return false;
  }
  BITMAPINFOHEADER request = header_;
  const int rows = GetDIBits(dc_.get(), PictureHandle, 0, static_cast<UINT>(header_.biHeight),
                             bits_, reinterpret_cast<BITMAPINFO*>(&request), DIB_RGB_COLORS);
  if (rows != header_.biHeight) {
    CleanUp();
    return false;
  }
  GdiFlush();
  return true;
}

bool DibSection::Load(const std::string& Name) noexcept {
  win::ScopedGdiObject bitmap(
      LoadImageA(nullptr, Name.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (!bitmap) {
    CleanUp();
    return false;
  }
  return LoadFromPictureHandle(static_cast<HBITMAP>(bitmap.get()));
}

void DibSection::PaintPicture(HDC lhDC,
                              int32_t lDestLeft,
                              int32_t lDestTop,
                              int32_t lDestWidth,
                              int32_t lDestHeight,
                              int32_t lSrcLeft,
                              int32_t lSrcTop,
                              DWORD eRop) const noexcept {
  if (!dc_)
    return;
  if (lDestWidth < 0)
    lDestWidth = dib_width();
  if (lDestHeight < 0)
    lDestHeight = dib_height();
  BitBlt(lhDC, lDestLeft, lDestTop, lDestWidth, lDestHeight, dc_.get(), lSrcLeft, lSrcTop, eRop);
}

void DibSection::CleanUp() noexcept {
  if (dc_) {
    if (dib_ && old_bitmap_ != nullptr)
      SelectObject(dc_.get(), old_bitmap_);
    dib_.reset();
    dc_.reset();
  }
  dib_.reset();
  old_bitmap_ = nullptr;
  bits_ = nullptr;
  ResetHeader();
}

}  // namespace x5::pictures
