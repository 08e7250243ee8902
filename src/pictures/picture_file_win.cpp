// Picture files of a window: the window's pixels grabbed into a bitmap, written as JPG through the
// platform's imaging codecs or as BMP at the screen's colour depth. Files appear only when whole.
#include "pictures/picture_file_win.h"

#include <wincodec.h>

#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "core/fault.h"
#include "pictures/dib_section_win.h"
#include "pictures/message_pump_win.h"
#include "pictures/picture_format.h"
#include "pictures/picture_names.h"
#include "win/job_folder.h"
#include "win/job_folder_win.h"

namespace x5::pictures {
namespace {

// Owns one reference to a COM object.
template <typename T>
class ComRef {
 public:
  ComRef() noexcept = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { Reset(); }
  T* operator->() const noexcept { return object_; }
  T* Get() const noexcept { return object_; }
  T** Put() noexcept {
    Reset();
    return &object_;
  }
  void Reset() noexcept {
    if (object_ != nullptr)
      object_->Release();
    object_ = nullptr;
  }

 private:
  T* object_ = nullptr;
};

// Selects a palette into a DC and the old one back when it goes.
class ScopedSelectPalette {
 public:
  ScopedSelectPalette(HDC dc, HPALETTE palette) noexcept
      : dc_(dc), old_(SelectPalette(dc, palette, FALSE)) {
    RealizePalette(dc);
  }
  ScopedSelectPalette(const ScopedSelectPalette&) = delete;
  ScopedSelectPalette& operator=(const ScopedSelectPalette&) = delete;
  ~ScopedSelectPalette() {
    if (old_ != nullptr)
      SelectPalette(dc_, old_, FALSE);
  }

 private:
  HDC dc_;
  HPALETTE old_;
};

// The 256 colours the system palette holds now.
win::ScopedGdiObject SystemPalette(HDC dc) noexcept {
  struct {
    WORD version;
    WORD entries;
    PALETTEENTRY colours[256];
  } palette{};
  palette.version = 0x300;
  palette.entries = 256;
  GetSystemPaletteEntries(dc, 0, 256, palette.colours);
  return win::ScopedGdiObject(CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette)));
}

bool IsPaletteDevice(HDC dc) noexcept {
  return (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0 && GetDeviceCaps(dc, SIZEPALETTE) == 256;
}

// Keeps a global memory block locked while its bytes are read.
class ScopedGlobalLock {
 public:
  explicit ScopedGlobalLock(HGLOBAL global) noexcept
      : global_(global), bytes_(GlobalLock(global)) {}
  ScopedGlobalLock(const ScopedGlobalLock&) = delete;
  ScopedGlobalLock& operator=(const ScopedGlobalLock&) = delete;
  ~ScopedGlobalLock() {
    if (bytes_ != nullptr)
      GlobalUnlock(global_);
  }
  const uint8_t* Bytes() const noexcept { return static_cast<const uint8_t*>(bytes_); }

 private:
  HGLOBAL global_;
  void* bytes_;
};

HRESULT WriteProperty(IPropertyBag2* bag, const wchar_t* name, VARIANT& value) noexcept {
  PROPBAG2 option{};
  option.pstrName = const_cast<LPOLESTR>(name);
  return bag->Write(1, &option, &value);
}

constexpr UINT kRowsPerBand = 64;

// Encodes the 24-bit rows (bottom-up, `stride` apart) as a JPG into `stream`. The codec writes into
// memory, not to a file it would open by name: the file is written by the job folder's checks.
bool EncodeJpeg(ImagingSession& session, IStream* stream, const DibSection& dib) noexcept {
  ComRef<IWICBitmapEncoder> encoder;
  if (FAILED(session.NewJpegEncoder(encoder.Put())) ||
      FAILED(encoder->Initialize(stream, WICBitmapEncoderNoCache))) {
    return false;
  }
  ComRef<IWICBitmapFrameEncode> frame;
  ComRef<IPropertyBag2> options;
  if (FAILED(encoder->CreateNewFrame(frame.Put(), options.Put())))
    return false;
  if (options.Get() != nullptr) {
    VARIANT quality;
    VariantInit(&quality);
    quality.vt = VT_R4;
    quality.fltVal = kJpegQuality;
    if (FAILED(WriteProperty(options.Get(), L"ImageQuality", quality)))
      return false;
    // Chroma at half resolution both ways; codecs that do not know the option keep their own.
    VARIANT subsampling;
    VariantInit(&subsampling);
    subsampling.vt = VT_UI1;
    subsampling.bVal = WICJpegYCrCbSubsampling420;
    WriteProperty(options.Get(), L"JpegYCrCbSubsampling", subsampling);
  }
  const UINT width = static_cast<UINT>(dib.dib_width());
  const UINT height = static_cast<UINT>(dib.dib_height());
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(frame->Initialize(options.Get())) || FAILED(frame->SetSize(width, height)) ||
      FAILED(frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR) {
    return false;
  }
  // The section's rows are stored bottom-up and the codec takes them top-down: they go over in
  // bands through a small buffer, as one codec call per row costs more than the copy.
  const size_t stride = static_cast<size_t>(dib.BytesPerScanLine());
  const uint8_t* const bits = dib.DIBSectionBitsPtr();
  const UINT band_rows = height < kRowsPerBand ? height : kRowsPerBand;
  std::vector<uint8_t> band(stride * band_rows);
  for (UINT row = 0; row < height; row += band_rows) {
    const UINT rows = height - row < band_rows ? height - row : band_rows;
    for (UINT k = 0; k < rows; ++k)
      memcpy(band.data() + k * stride, bits + (height - 1 - row - k) * stride, stride);
    if (FAILED(frame->WritePixels(rows, static_cast<UINT>(stride), static_cast<UINT>(stride * rows),
                                  band.data()))) {
      return false;
    }
  }
  return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

struct BmpFormat {
  uint16_t bit_count;
  uint32_t compression;
  uint32_t table_entries;
};

// The bitmap's own depth, as a BMP file can hold it.
BmpFormat FormatFor(int bits_per_pixel) noexcept {
  switch (bits_per_pixel) {
    case 1:
    case 4:
    case 8:
      return {static_cast<uint16_t>(bits_per_pixel), kBmpNoCompression, 1u << bits_per_pixel};
    case 15:
      return {16, kBmpNoCompression, 0};
    case 16:
      return {16, kBmpBitFields, 3};  // 5-6-5, as the device keeps it
    case 24:
      return {24, kBmpNoCompression, 0};
    default:
      return {32, kBmpNoCompression, 0};
  }
}

}  // namespace

WindowPicture WindowToPicture(HWND window,
                              bool client_only,
                              int32_t left,
                              int32_t top,
                              int32_t width,
                              int32_t height) noexcept {
  WindowPicture picture;
  if (width <= 0 || height <= 0)
    return picture;
  win::ScopedWindowDc window_dc(window, client_only ? GetDC(window) : GetWindowDC(window));
  if (!window_dc)
    return picture;
  win::ScopedCreatedDc memory(CreateCompatibleDC(window_dc.get()));
  win::ScopedGdiObject bitmap(CreateCompatibleBitmap(window_dc.get(), width, height));
  if (!memory || !bitmap)
    return picture;
  win::ScopedGdiObject palette;
  {
    win::ScopedSelectObject select_bitmap(memory.get(), bitmap.get());
    std::optional<ScopedSelectPalette> select_palette;
    if (IsPaletteDevice(window_dc.get())) {
      palette = SystemPalette(window_dc.get());
      if (palette)
        select_palette.emplace(memory.get(), static_cast<HPALETTE>(palette.get()));
    }
    if (!BitBlt(memory.get(), 0, 0, width, height, window_dc.get(), left, top, SRCCOPY))
      return picture;
  }
  picture.bitmap = std::move(bitmap);
  picture.palette = std::move(palette);
  picture.width = width;
  picture.height = height;
  return picture;
}

ImagingSession::~ImagingSession() {
  if (jpeg_class_ != nullptr)
    jpeg_class_->Release();
  if (factory_ != nullptr)
    factory_->Release();
  if (uninitialize_)
    CoUninitialize();
}

IWICImagingFactory* ImagingSession::Factory() noexcept {
  // The factory lives in the apartment of the thread that made it.
  if (tried_)
    return thread_ == GetCurrentThreadId() ? factory_ : nullptr;
  tried_ = true;
  thread_ = GetCurrentThreadId();
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // S_FALSE: already initialised here, still to be balanced. RPC_E_CHANGED_MODE: COM is usable
  // in the mode this thread already has.
  uninitialize_ = SUCCEEDED(init);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE)
    return nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory_)))) {
    factory_ = nullptr;
  }
  return factory_;
}

HRESULT ImagingSession::NewJpegEncoder(IWICBitmapEncoder** encoder) noexcept {
  *encoder = nullptr;
  IWICImagingFactory* factory = Factory();
  if (factory == nullptr)
    return E_FAIL;
  if (!jpeg_class_tried_) {
    jpeg_class_tried_ = true;
    ++encoder_lookups_;
    if (FAILED(CoGetClassObject(CLSID_WICJpegEncoder, CLSCTX_INPROC_SERVER, nullptr,
                                IID_IClassFactory, reinterpret_cast<void**>(&jpeg_class_)))) {
      jpeg_class_ = nullptr;
    }
  }
  if (jpeg_class_ != nullptr &&
      SUCCEEDED(jpeg_class_->CreateInstance(nullptr, IID_IWICBitmapEncoder,
                                            reinterpret_cast<void**>(encoder)))) {
    return S_OK;
  }
  *encoder = nullptr;
  ++encoder_lookups_;
  return factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder);
}

ImagingSession& RunImaging() noexcept {
  // Never destroyed: releasing COM objects while the process ends gains nothing.
  alignas(ImagingSession) static unsigned char storage[sizeof(ImagingSession)];
  static ImagingSession* const session = new (storage) ImagingSession;
  return *session;
}

namespace {

// Where a picture goes: its folder, opened without following links, and its name there. An older
// picture of that name is replaced only by a whole new one: a picture that fails keeps it.
struct PictureTarget {
  win::JobFolder folder;
  std::string name;

  core::Result<void> Write(std::initializer_list<std::span<const uint8_t>> pieces) {
    if (!folder.Replace(name, PartialPictureName(name), pieces, false).Done())
      return core::Failure{"the picture file cannot be written", 0};
    return {};
  }
};

core::Failure NoTarget() {
  return core::Failure{"the picture's folder cannot be opened", 0};
}

std::optional<PictureTarget> PictureTargetOf(const std::string& file_name) {
  std::optional<win::FolderAndName> split = win::SplitFolderAndName(win::AbsolutePath(file_name));
  if (!split)
    return std::nullopt;
  return PictureTarget{win::JobFolder::Open(split->folder, file_name), std::move(split->name)};
}

}  // namespace

core::Result<void> SaveJpg(const WindowPicture& picture,
                           const std::string& file_name,
                           ImagingSession& session) noexcept {
  try {
    std::optional<PictureTarget> target = PictureTargetOf(file_name);
    if (!target)
      return NoTarget();
    PumpPendingMessages();
    DibSection dib;
    if (!picture || !dib.LoadFromPictureHandle(picture.Bitmap()))
      return core::Failure{"the window's bitmap cannot be read", 0};
    PumpPendingMessages();
    if (session.Factory() == nullptr)
      return core::Failure{"no imaging factory", 0};
    ComRef<IStream> memory;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory.Put())) ||
        !EncodeJpeg(session, memory.Get(), dib)) {
      return core::Failure{"the picture cannot be encoded as JPG", 0};
    }
    HGLOBAL global = nullptr;
    STATSTG stat{};
    if (FAILED(GetHGlobalFromStream(memory.Get(), &global)) ||
        FAILED(memory->Stat(&stat, STATFLAG_NONAME))) {
      return core::Failure{"the encoded picture cannot be read", 0};
    }
    const ScopedGlobalLock locked(global);
    if (locked.Bytes() == nullptr)
      return core::Failure{"the encoded picture cannot be read", GetLastError()};
    const std::span<const uint8_t> jpeg(locked.Bytes(), static_cast<size_t>(stat.cbSize.QuadPart));
    return target->Write({jpeg});
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("SaveJpg")), 0};
  }
}

core::Result<void> SaveBmp(const WindowPicture& picture, const std::string& file_name) noexcept {
  try {
    std::optional<PictureTarget> target = PictureTargetOf(file_name);
    if (!target)
      return NoTarget();
    BITMAP bm{};
    if (!picture || GetObjectA(picture.bitmap.get(), sizeof(bm), &bm) == 0)
      return core::Failure{"the window's bitmap cannot be read", 0};
    const BmpFormat format = FormatFor(bm.bmBitsPixel * bm.bmPlanes);
    const DibLayout layout{bm.bmWidth, bm.bmHeight, format.bit_count, format.compression,
                           format.table_entries};
    const std::vector<uint8_t> headers = BmpHeaders(layout);
    if (headers.empty())
      return core::Failure{"the bitmap's format has no BMP form", 0};
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD table[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = layout.width;
    info.header.biHeight = layout.height;
    info.header.biPlanes = 1;
    info.header.biBitCount = layout.bit_count;
    info.header.biCompression = layout.compression;
    if (layout.compression == kBmpBitFields) {
      const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
      memcpy(info.table, masks, sizeof(masks));
    }
    std::vector<uint8_t> rows(DibImageSize(layout));
    {
      win::ScopedCreatedDc dc(CreateCompatibleDC(nullptr));
      if (!dc)
        return core::Failure{"no device context", GetLastError()};
      std::optional<ScopedSelectPalette> select_palette;
      if (picture.palette)
        select_palette.emplace(dc.get(), static_cast<HPALETTE>(picture.palette.get()));
      if (GetDIBits(dc.get(), picture.Bitmap(), 0, static_cast<UINT>(layout.height), rows.data(),
                    reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != layout.height) {
        return core::Failure{"the window's bitmap cannot be read", 0};
      }
    }
    const auto* table = reinterpret_cast<const uint8_t*>(info.table);
    return target->Write({headers, std::span(table, 4 * layout.table_entries), rows});
  } catch (const std::exception&) {
    return core::Failure{std::string(core::UnexpectedFault("SaveBmp")), 0};
  }
}

}  // namespace x5::pictures
