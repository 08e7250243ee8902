// Per-window capture figures under Wine: the runner's capture of one window (JPG, and BMP; picture
// interval 0, capture lock, topmost, input block, update lock, hide) against a bare BitBlt and
// codec encode of the same window in the same run, alternating round by round.
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

  x5::ImagingSession reference_session;
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
  std::printf("%-16s %-4s %12s %12s %12s %12s %8s\n", "window", "type", "runner med", "runner p90",
              "bare med", "bare p90", "ratio");

  for (const Shape& s : shapes) {
    for (const bool jpeg : {true, false}) {
      x5::modCapture::CaptureRun run;
      run.prefix = out;
      run.picture_interval = 0;
      run.jpeg_wanted = jpeg;
      (void)run.imaging.Factory();  // shared across windows of one run, as in the runner
      std::vector<double> ours;
      std::vector<double> bare;
      const std::wstring bare_path =
          WideOf(out + "bare_" + std::to_string(s.width) + (jpeg ? ".jpg" : ".bmp"));
      for (int i = 0; i < rounds + 2; ++i) {
        // Ours hides the window as the runner does before ending it, handing the hide to the
        // window's thread without waiting; once that thread has done it, show the window for the
        // next round.
        SendMessageA(s.window, WM_NULL, 0, 0);
        ShowWindow(s.window, SW_SHOW);
        Sleep(30);
        double t0 = NowMs();
        const bool bare_ok =
            BareCapture(s.window, factory,
                        jpeg ? GUID_ContainerFormatJpeg : GUID_ContainerFormatBmp, bare_path);
        double t1 = NowMs();
        run.captured.clear();
        const int32_t before = run.pictures_written;
        (void)x5::modCapture::CaptureWindow(s.window, GetCurrentProcessId(), 1,
                                            x5::modCapture::SanitiseTitle(s.title), run);
        double t2 = NowMs();
        if (!bare_ok || run.pictures_written != before + 1) {
          std::fprintf(stderr, "capture failed (%s, %s)\n", s.title.c_str(), jpeg ? "JPG" : "BMP");
          return 1;
        }
        if (i >= 2) {  // the first rounds warm the codecs and the file system
          bare.push_back(t1 - t0);
          ours.push_back(t2 - t1);
        }
      }
      const double ratio = Median(ours) / Median(bare);
      std::printf("%-16s %-4s %9.2f ms %9.2f ms %9.2f ms %9.2f ms %7.2fx\n", s.title.c_str() + 6,
                  jpeg ? "JPG" : "BMP", Median(ours), Percentile90(ours), Median(bare),
                  Percentile90(bare), ratio);
    }
  }
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
        std::printf("  %-34s %8.3f ms\n", what, Median(v));
      };
      ShowWindow(s.window, SW_SHOW);
      std::printf("\nbreakdown (%s), medians:\n", s.title.c_str());
      const int32_t token = static_cast<int32_t>(reinterpret_cast<uintptr_t>(s.window));
      time("capture lock acquire + release", [&] {
        (void)x5::RegistryLock("Capture", x5::kLockAcquire, token, 200, 200);
        (void)x5::RegistryLock("Capture", x5::kLockRelease, token, 60, 200);
      });
      time("input attach + detach", [&] {
        x5::modCapture::InputAttachment attach(
            GetWindowThreadProcessId(GetForegroundWindow(), nullptr),
            GetWindowThreadProcessId(s.window, nullptr));
      });
      time("input block (+ unblock)", [&] { x5::modCapture::InputBlock block; });
      time("topmost + back", [&] { x5::modCapture::TopmostPlacement topmost(s.window); });
      time("window update lock", [&] { x5::modCapture::WindowUpdateLock updates(s.window); });
      time("grab (BitBlt)", [&] { (void)x5::modCapture::GrabWindowPicture(s.window); });
      x5::WindowPicture picture = x5::modCapture::GrabWindowPicture(s.window);
      x5::ImagingSession session;
      time("SaveJpg", [&] { (void)x5::SaveJpg(picture, out + "breakdown.jpg", session); });
      time("SaveBmp", [&] { (void)x5::SaveBmp(picture, out + "breakdown.bmp"); });
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
