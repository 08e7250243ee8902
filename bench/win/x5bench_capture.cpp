// Per-window capture figures under Wine: the runner's capture of one window (JPG, and BMP; picture
// interval 0, capture lock, input block, update lock; for a picture request also the raise into
// the topmost band and the hide) against a bare BitBlt and codec encode of the same window in the
// same run, alternating round by round.
// Usage: x5bench_capture OUTDIR [ROUNDS]   (OUTDIR a Windows path ending in a backslash)
#include <windows.h>

#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support_win.h"
#include "pictures/capture_guards_win.h"
#include "pictures/capture_lock_win.h"
#include "pictures/capture_win.h"
#include "pictures/dib_section_win.h"
#include "pictures/picture_file_win.h"
#include "pictures/picture_names.h"
#include "registry/registry_win.h"
#include "win/job_folder.h"
#include "win/job_folder_win.h"

namespace {

double NowMs() {
  return x5::bench::NowUs() / 1000.0;
}

struct Shape {
  int width;
  int height;
  HWND window = nullptr;
  std::string title;
};

LRESULT CALLBACK BenchWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT r;
    GetClientRect(w, &r);
    // Some content for the encoder: bands of colour and text.
    for (int y = 0; y < r.bottom; y += 16) {
      HBRUSH brush = CreateSolidBrush(RGB((y * 7) & 255, (y * 3) & 255, 255 - (y & 255)));
      RECT band{0, y, r.right, y + 16};
      FillRect(dc, &band, brush);
      DeleteObject(brush);
      TextOutA(dc, 4 + (y % 64), y, "x5runner capture benchmark 0123456789", 37);
    }
    EndPaint(w, &ps);
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

// The windows live on a thread of their own that pumps messages, as another program's would.
DWORD WINAPI WindowThread(LPVOID param) {
  auto* shapes = static_cast<std::vector<Shape>*>(param);
  WNDCLASSA wc{};
  wc.lpfnWndProc = BenchWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "x5benchcapture";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassA(&wc);
  for (Shape& s : *shapes) {
    s.window = CreateWindowA("x5benchcapture", s.title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                             20, 20, s.width, s.height, nullptr, nullptr, wc.hInstance, nullptr);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

// The reference: the window's pixels by BitBlt, read top-down as 24-bit rows and encoded in one
// call, with the same factory and the same JPG quality.
bool BareCapture(HWND window,
                 IWICImagingFactory* factory,
                 const GUID& container,
                 const std::wstring& path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  HDC window_dc = GetWindowDC(window);
  HDC memory = CreateCompatibleDC(window_dc);
  HBITMAP bitmap = CreateCompatibleBitmap(window_dc, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, window_dc, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  const UINT stride = static_cast<UINT>((w * 3 + 3) & ~3);
  std::vector<BYTE> pixels(static_cast<size_t>(stride) * h);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), &bi, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, window_dc);

  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  IPropertyBag2* options = nullptr;
  bool ok = SUCCEEDED(factory->CreateStream(&stream)) &&
            SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
            SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
            SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
            SUCCEEDED(encoder->CreateNewFrame(&frame, &options));
  if (ok && container == GUID_ContainerFormatJpeg) {
    PROPBAG2 option{};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = 0.75f;
    options->Write(1, &option, &value);
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  ok = ok && SUCCEEDED(frame->Initialize(options)) && SUCCEEDED(frame->SetSize(w, h)) &&
       SUCCEEDED(frame->SetPixelFormat(&format)) &&
       SUCCEEDED(frame->WritePixels(h, stride, static_cast<UINT>(pixels.size()), pixels.data())) &&
       SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  if (options)
    options->Release();
  if (frame)
    frame->Release();
  if (encoder)
    encoder->Release();
  if (stream)
    stream->Release();
  return ok;
}

using x5::bench::Median;

// The parts of one JPG picture file as the runner makes it (SaveJpg), each timed: what sets the
// small pictures' figure apart from the bare grab and encode.
struct JpgParts {
  std::vector<double> folder, dib, encoder, encode, file, whole;
};

bool TimedRunnerJpg(const x5::pictures::WindowPicture& picture,
                    const std::string& file_name,
                    IWICImagingFactory* factory,
                    JpgParts& parts) {
  double t = x5::bench::NowUs();
  auto lap = [&](std::vector<double>& into) {
    const double now = x5::bench::NowUs();
    into.push_back((now - t) / 1000.0);
    t = now;
  };
  const double start = t;
  const auto split = x5::win::SplitFolderAndName(x5::win::AbsolutePath(file_name));
  x5::win::JobFolder folder = x5::win::JobFolder::Open(split->folder, file_name);
  lap(parts.folder);
  x5::pictures::DibSection dib;
  if (!dib.LoadFromPictureHandle(picture.Bitmap()))
    return false;
  lap(parts.dib);
  IStream* memory = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  IPropertyBag2* options = nullptr;
  bool ok = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &memory)) &&
            SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) &&
            SUCCEEDED(encoder->Initialize(memory, WICBitmapEncoderNoCache)) &&
            SUCCEEDED(encoder->CreateNewFrame(&frame, &options));
  if (ok) {
    PROPBAG2 option{};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = x5::pictures::kJpegQuality;
    options->Write(1, &option, &value);
  }
  lap(parts.encoder);
  const UINT w = static_cast<UINT>(dib.dib_width()), h = static_cast<UINT>(dib.dib_height());
  const UINT stride = static_cast<UINT>(dib.BytesPerScanLine());
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  ok = ok && SUCCEEDED(frame->Initialize(options)) && SUCCEEDED(frame->SetSize(w, h)) &&
       SUCCEEDED(frame->SetPixelFormat(&format));
  std::vector<BYTE> band(static_cast<size_t>(stride) * 64);
  for (UINT row = 0; ok && row < h; row += 64) {
    const UINT rows = std::min<UINT>(64, h - row);
    for (UINT k = 0; k < rows; ++k)
      memcpy(band.data() + k * stride, dib.DIBSectionBitsPtr() + (h - 1 - row - k) * stride,
             stride);
    ok = SUCCEEDED(frame->WritePixels(rows, stride, stride * rows, band.data()));
  }
  ok = ok && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  lap(parts.encode);
  HGLOBAL global = nullptr;
  STATSTG stat{};
  ok = ok && SUCCEEDED(GetHGlobalFromStream(memory, &global)) &&
       SUCCEEDED(memory->Stat(&stat, STATFLAG_NONAME));
  if (ok) {
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(global));
    ok = folder
             .Replace(split->name, x5::pictures::PartialPictureName(split->name),
                      {std::span(bytes, static_cast<size_t>(stat.cbSize.QuadPart))}, false)
             .Done();
    GlobalUnlock(global);
  }
  lap(parts.file);
  parts.whole.push_back((t - start) / 1000.0);
  for (IUnknown* object : std::initializer_list<IUnknown*>{options, frame, encoder, memory}) {
    if (object)
      object->Release();
  }
  return ok;
}

double Percentile90(std::vector<double> v) {
  return x5::bench::Percentile(std::move(v), 0.9);
}

std::wstring WideOf(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: x5bench_capture OUTDIR [ROUNDS]\n");
    return 2;
  }
  const std::string out = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 30;

  std::vector<Shape> shapes = {
      {320, 200, nullptr, {}}, {800, 600, nullptr, {}}, {1200, 900, nullptr, {}}};
  for (Shape& s : shapes)
    s.title = "Bench " + std::to_string(s.width) + "x" + std::to_string(s.height);
  HANDLE thread = CreateThread(nullptr, 0, WindowThread, &shapes, 0, nullptr);
  for (int i = 0; i < 100 && shapes.back().window == nullptr; ++i)
    Sleep(20);
  Sleep(500);  // first paint

  x5::pictures::ImagingSession reference_session;
  const double factory_start = NowMs();
  IWICImagingFactory* factory = reference_session.Factory();
  const double factory_ms = NowMs() - factory_start;
  if (factory == nullptr) {
    std::fprintf(stderr, "no imaging codecs\n");
    return 1;
  }
  // A lock key present means the lock's registry round trips are part of the figures.
  HKEY lock_key = nullptr;
  const bool lock_in_use = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvex", 0, KEY_READ,
                                         &lock_key) == ERROR_SUCCESS;
  if (lock_key)
    RegCloseKey(lock_key);

  std::printf(
      "capture benchmark: %d rounds per window and type, picture interval 0, capture lock %s\n",
      rounds, lock_in_use ? "in use" : "not in use (no HKLM\\Software\\Halvex)");
  std::printf("codec factory, first use: %.2f ms (once per capture run)\n\n", factory_ms);
  std::printf(
      "before an end: the window's process is ended next (KILL, end of job); request: a\n"
      "\"_X5C_\" picture request, whose windows live on; ratios against the bare figure\n\n");
  std::printf("%-10s %-4s %10s %10s %10s %10s %10s %10s %8s %8s %8s\n", "window", "type", "end med",
              "end p90", "req med", "req p90", "bare med", "bare p90", "end/bare", "req/bare",
              "in front");

  std::vector<std::string> figures;
  std::vector<double> ratios;
  for (const Shape& s : shapes) {
    for (const bool jpeg : {true, false}) {
      // One capture run for each kind, each sharing its codec factory across rounds as the
      // runner shares it across the windows of one run.
      x5::pictures::CaptureRun end_run;
      x5::pictures::CaptureRun request_run;
      for (x5::pictures::CaptureRun* run : {&end_run, &request_run}) {
        run->prefix = out;
        run->picture_interval = 0;
        run->jpeg_wanted = jpeg;
        (void)run->imaging->Factory();
      }
      end_run.before_end = true;
      std::vector<double> before_end;
      std::vector<double> request;
      std::vector<double> bare;
      int in_front = 0;
      const std::wstring bare_path =
          WideOf(out + "bare_" + std::to_string(s.width) + (jpeg ? ".jpg" : ".bmp"));
      // Shows the window again once its thread has carried out the hide the capture handed it.
      auto show_again = [&] {
        SendMessageA(s.window, WM_NULL, 0, 0);
        ShowWindow(s.window, SW_SHOW);
        Sleep(30);
      };
      auto capture = [&](x5::pictures::CaptureRun& run) {
        run.captured.clear();
        const int32_t before = run.pictures_written;
        const double t0 = NowMs();
        (void)x5::pictures::CaptureWindow(s.window, GetCurrentProcessId(), 1,
                                          x5::pictures::SanitiseTitle(s.title), run);
        const double ms = NowMs() - t0;
        if (run.pictures_written != before + 1) {
          std::fprintf(stderr, "capture failed (%s, %s)\n", s.title.c_str(), jpeg ? "JPG" : "BMP");
          std::exit(1);
        }
        return ms;
      };
      for (int i = 0; i < rounds + 2; ++i) {
        show_again();
        double t0 = NowMs();
        const bool bare_ok =
            BareCapture(s.window, factory,
                        jpeg ? GUID_ContainerFormatJpeg : GUID_ContainerFormatBmp, bare_path);
        const double bare_ms = NowMs() - t0;
        if (!bare_ok) {
          std::fprintf(stderr, "bare capture failed (%s)\n", s.title.c_str());
          return 1;
        }
        // Which way the capture before an end goes: as it is, or raised first.
        const bool front = x5::pictures::InFrontAndUncovered(s.window);
        const double end_ms = capture(end_run);
        show_again();
        const double request_ms = capture(request_run);
        if (i >= 2) {  // the first rounds warm the codecs and the file system
          bare.push_back(bare_ms);
          before_end.push_back(end_ms);
          request.push_back(request_ms);
          in_front += front ? 1 : 0;
        }
      }
      std::printf(
          "%-10s %-4s %7.2f ms %7.2f ms %7.2f ms %7.2f ms %7.2f ms %7.2f ms %7.2fx %7.2fx %5d/%d\n",
          s.title.c_str() + 6, jpeg ? "JPG" : "BMP", Median(before_end), Percentile90(before_end),
          Median(request), Percentile90(request), Median(bare), Percentile90(bare),
          Median(before_end) / Median(bare), Median(request) / Median(bare), in_front, rounds);
      figures.push_back("picture before an end, " + std::string(s.title.c_str() + 6) +
                        (jpeg ? " JPG" : " BMP") + " / bare grab and encode");
      ratios.push_back(Median(before_end) / Median(bare));
    }
  }
  std::printf("\n");
  for (size_t i = 0; i < figures.size(); ++i)
    x5::bench::PrintFigure(figures[i].c_str(), ratios[i], "<= 1.15");
  if (std::getenv("X5_BENCH_BREAKDOWN") != nullptr) {
    // Where the runner's time goes, step by step.
    for (const Shape& s : shapes) {
      auto time = [&](const char* what, auto&& step) {
        std::vector<double> v;
        for (int i = 0; i < rounds; ++i) {
          const double t0 = NowMs();
          step();
          v.push_back(NowMs() - t0);
        }
        std::printf("  %-40s %8.3f ms\n", what, Median(v));
      };
      ShowWindow(s.window, SW_SHOW);
      std::printf("\nbreakdown (%s), medians:\n", s.title.c_str());
      const int32_t token = static_cast<int32_t>(reinterpret_cast<uintptr_t>(s.window));
      time("capture lock, each call opening its key", [&] {
        (void)x5::pictures::RegistryLock("Capture", x5::pictures::kLockAcquire, token, 200, 200);
        (void)x5::pictures::RegistryLock("Capture", x5::pictures::kLockRelease, token, 60, 200);
      });
      time("capture lock, key kept from acquire to release", [&] {
        x5::pictures::RegistryLockHold hold("Capture");
        (void)hold.Acquire(token, 200, 200, 0);
        (void)hold.Release(token, 60, 200, 0);
      });
      time("input attach + detach", [&] {
        x5::pictures::InputAttachment attach(
            GetWindowThreadProcessId(GetForegroundWindow(), nullptr),
            GetWindowThreadProcessId(s.window, nullptr));
      });
      time("input block (+ unblock)", [&] { x5::pictures::InputBlock block; });
      time("topmost + back (handed over)",
           [&] { x5::pictures::TopmostPlacement topmost(s.window); });
      time("raise + wait for the window's thread", [&] {
        x5::pictures::TopmostPlacement topmost(s.window);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(s.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 500, &ignored);
      });
      time("in front and uncovered? (before an end)",
           [&] { (void)x5::pictures::InFrontAndUncovered(s.window); });
      time("window update lock", [&] { x5::pictures::WindowUpdateLock updates(s.window); });
      time("grab (BitBlt)", [&] { (void)x5::pictures::GrabWindowPicture(s.window); });
      x5::pictures::WindowPicture picture = x5::pictures::GrabWindowPicture(s.window);
      x5::pictures::ImagingSession session;
      time("SaveJpg",
           [&] { (void)x5::pictures::SaveJpg(picture, out + "breakdown.jpg", session); });
      {
        JpgParts parts;
        for (int i = 0; i < rounds; ++i)
          (void)TimedRunnerJpg(picture, out + "breakdown.jpg", factory, parts);
        std::printf("  SaveJpg by parts (an older picture of the name is there):\n");
        for (auto [what, v] : {std::pair{"folder opened and checked", &parts.folder},
                               std::pair{"24-bit DIB section", &parts.dib},
                               std::pair{"memory stream and encoder made", &parts.encoder},
                               std::pair{"rows encoded and committed", &parts.encode},
                               std::pair{"temporary written and renamed", &parts.file},
                               std::pair{"all of it", &parts.whole}}) {
          std::printf("    %-38s %8.3f ms\n", what, Median(*v));
        }
      }
      {
        // The file's part with the older picture deleted first (as until 2026-12-08) and renamed
        // over, with an older picture of the name there and without one (the usual case: the
        // capture deletes the step's earlier pictures before it begins).
        const std::vector<uint8_t> bytes(20000, 0x5A);
        const std::string name = out + "older.jpg";
        const auto split = x5::win::SplitFolderAndName(x5::win::AbsolutePath(name));
        for (const bool older : {true, false}) {
          std::vector<double> first_deleted, over;
          for (int i = 0; i < 2 * rounds; ++i) {
            if (!older)
              DeleteFileA(name.c_str());
            const double t0 = NowMs();
            x5::win::JobFolder folder = x5::win::JobFolder::Open(split->folder, name);
            if (i % 2 == 0)
              (void)folder.Delete(split->name);
            (void)folder.Replace(split->name, x5::pictures::PartialPictureName(split->name),
                                 {std::span<const uint8_t>(bytes)}, false);
            (i % 2 == 0 ? first_deleted : over).push_back(NowMs() - t0);
          }
          std::printf(
              "  20 KB picture file, %s: older deleted first %.3f ms, written over it %.3f"
              " ms\n",
              older ? "an older one there" : "none there", Median(first_deleted), Median(over));
        }
        DeleteFileA(name.c_str());
      }
      time("SaveBmp", [&] { (void)x5::pictures::SaveBmp(picture, out + "breakdown.bmp"); });
      time("a JPG encoder from the factory (CreateEncoder)", [&] {
        IWICBitmapEncoder* encoder = nullptr;
        if (SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)))
          encoder->Release();
      });
      {
        IClassFactory* jpeg_class = nullptr;
        if (SUCCEEDED(CoGetClassObject(CLSID_WICJpegEncoder, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IClassFactory, reinterpret_cast<void**>(&jpeg_class)))) {
          HRESULT made = S_OK;
          time("a JPG encoder from its class, kept (CreateInstance)", [&] {
            IWICBitmapEncoder* encoder = nullptr;
            made = jpeg_class->CreateInstance(nullptr, IID_IWICBitmapEncoder,
                                              reinterpret_cast<void**>(&encoder));
            if (SUCCEEDED(made))
              encoder->Release();
          });
          if (FAILED(made))
            std::printf("  (the class made no encoder: 0x%08lx)\n",
                        static_cast<unsigned long>(made));
          jpeg_class->Release();
        }
      }
      time("24-bit rows by GetDIBits into memory (as the bare)", [&] {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = picture.width;
        bi.bmiHeader.biHeight = -picture.height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        std::vector<BYTE> rows(static_cast<size_t>((picture.width * 3 + 3) & ~3) *
                               static_cast<size_t>(picture.height));
        HDC dc = CreateCompatibleDC(nullptr);
        GetDIBits(dc, picture.Bitmap(), 0, static_cast<UINT>(picture.height), rows.data(), &bi,
                  DIB_RGB_COLORS);
        DeleteDC(dc);
      });
      time("24-bit DIB section (as the runner)", [&] {
        x5::pictures::DibSection dib;
        (void)dib.LoadFromPictureHandle(picture.Bitmap());
      });
      time("hide + show again", [&] {
        ShowWindow(s.window, SW_HIDE);
        ShowWindow(s.window, SW_SHOW);
      });
      time("bare JPG", [&] {
        (void)BareCapture(s.window, factory, GUID_ContainerFormatJpeg, WideOf(out + "b.jpg"));
      });
      time("bare BMP", [&] {
        (void)BareCapture(s.window, factory, GUID_ContainerFormatBmp, WideOf(out + "b.bmp"));
      });
    }
  }
  for (const Shape& s : shapes)
    PostMessageA(s.window, WM_CLOSE, 0, 0);
  PostThreadMessageA(GetThreadId(thread), WM_QUIT, 0, 0);
  WaitForSingleObject(thread, 2000);
  CloseHandle(thread);
  return 0;
}
