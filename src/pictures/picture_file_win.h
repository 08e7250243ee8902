// Picture files of a window: the window's pixels grabbed into a bitmap, written as JPG through the
// platform's imaging codecs or as BMP at the screen's colour depth. Files appear only when whole.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include <unknwn.h>

#include "core/result.h"
#include "win/unique_handle.h"

struct IWICBitmapEncoder;
struct IWICImagingFactory;

namespace x5::pictures {

// What a window showed: a screen-compatible bitmap and, on palette devices, its palette.
struct WindowPicture {
  win::ScopedGdiObject bitmap;
  win::ScopedGdiObject palette;
  int32_t width = 0;
  int32_t height = 0;

  HBITMAP Bitmap() const noexcept { return static_cast<HBITMAP>(bitmap.get()); }
  explicit operator bool() const noexcept { return static_cast<bool>(bitmap); }
};

// The window's pixels from (left, top) of its client area or (client_only false) of the whole
// window, frame included. Empty when the window or the bitmap cannot be had.
[[nodiscard]] WindowPicture WindowToPicture(HWND window,
                                            bool client_only,
                                            int32_t left,
                                            int32_t top,
                                            int32_t width,
                                            int32_t height) noexcept;

// The imaging codecs: COM for the thread that first asks and one codec factory, made on first
// use and released with the session; asked from another thread, no factory.
class ImagingSession {
 public:
  ImagingSession() noexcept = default;
  ImagingSession(const ImagingSession&) = delete;
  ImagingSession& operator=(const ImagingSession&) = delete;
  ~ImagingSession();

  // Null when the codecs cannot be had (the JPG is then not written).
  [[nodiscard]] IWICImagingFactory* Factory() noexcept;

  // A new JPG encoder, or a failure. The encoder's class is looked up once and kept: the factory
  // looks it up in the registry for every encoder it makes, under Wine about as long as encoding
  // a small picture. The factory makes it only when the class cannot be had.
  [[nodiscard]] HRESULT NewJpegEncoder(IWICBitmapEncoder** encoder) noexcept;

  // How often the session asked the system to find an encoder's class.
  uint32_t EncoderLookups() const noexcept { return encoder_lookups_; }

 private:
  bool tried_ = false;
  bool uninitialize_ = false;
  DWORD thread_ = 0;
  IWICImagingFactory* factory_ = nullptr;
  bool jpeg_class_tried_ = false;
  IClassFactory* jpeg_class_ = nullptr;
  uint32_t encoder_lookups_ = 0;
};

// The runner's one session, made on the first picture (never before a picture is taken, so no
// codec library is loaded by a run without one) and kept to the end of the process: under Wine
// making COM ready and the factory costs milliseconds, which every KILL with windows paid anew.
[[nodiscard]] ImagingSession& RunImaging() noexcept;

inline constexpr float kJpegQuality = 0.75f;

// Writes the picture as a JPG file (24-bit colour, quality 75). A failure, with what could not be
// done, leaves an older file of that name as it was. Like every picture file it is written and
// renamed over an older one only through the job folder's checks: a picture whose folder or name
// is a link is not written.
core::Result<void> SaveJpg(const WindowPicture& picture,
                           const std::string& file_name,
                           ImagingSession& session) noexcept;

// Writes the picture as a BMP file at the bitmap's own colour depth (the screen's). A failure
// leaves an older file of that name as it was.
core::Result<void> SaveBmp(const WindowPicture& picture, const std::string& file_name) noexcept;

}  // namespace x5::pictures
