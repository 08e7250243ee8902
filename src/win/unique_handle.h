// Owners for Win32 resources: one template, one trait per kind of handle (empty value + release).
#pragma once

#include <windows.h>

#include <utility>

namespace x5::win {

// Releases preserve the thread's last error, so a cleanup on an error path never hides the code
// the caller is about to read.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle h) noexcept : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return Traits::IsValid(handle_); }

  void reset(Handle h = Traits::Empty()) noexcept {
    if (Traits::IsValid(handle_)) {
      DWORD saved = GetLastError();
      Traits::Close(handle_);
      SetLastError(saved);
    }
    handle_ = h;
  }

  [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }

  // For out-parameters of create calls: releases what is held and hands out the slot.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Empty();
};

// Kernel objects whose empty value is null (processes, threads, jobs, events, mutexes, tokens).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { CloseHandle(h); }
};

// Files, snapshots and find handles from calls that report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) noexcept { FindClose(h); }
};

struct ChangeNotificationTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) noexcept { FindCloseChangeNotification(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { RegCloseKey(h); }
};

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { FreeLibrary(h); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { DeleteObject(h); }
};

// A DC from CreateCompatibleDC/CreateDC (DeleteDC), never one from GetDC.
struct CreatedDcTraits {
  using Handle = HDC;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { DeleteDC(h); }
};

struct WindowStationTraits {
  using Handle = HWINSTA;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { CloseWindowStation(h); }
};

struct DesktopTraits {
  using Handle = HDESK;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { CloseDesktop(h); }
};

using ScopedHandle = UniqueHandle<KernelHandleTraits>;
using ScopedFileHandle = UniqueHandle<FileHandleTraits>;
using ScopedFindHandle = UniqueHandle<FindHandleTraits>;
using ScopedChangeNotification = UniqueHandle<ChangeNotificationTraits>;
using ScopedKey = UniqueHandle<RegKeyTraits>;
using ScopedModule = UniqueHandle<ModuleTraits>;
using ScopedGdiObject = UniqueHandle<GdiObjectTraits>;
using ScopedCreatedDc = UniqueHandle<CreatedDcTraits>;
using ScopedWindowStation = UniqueHandle<WindowStationTraits>;
using ScopedDesktop = UniqueHandle<DesktopTraits>;

// A DC from GetDC/GetWindowDC, released to its window with ReleaseDC.
class ScopedWindowDc {
 public:
  ScopedWindowDc(HWND window, HDC dc) noexcept : window_(window), dc_(dc) {}
  ScopedWindowDc(const ScopedWindowDc&) = delete;
  ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;
  ~ScopedWindowDc() {
    if (dc_ != nullptr)
      ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a DC and selects the old one back when it goes.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(SelectObject(dc, object)) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (old_ != nullptr && old_ != HGDI_ERROR)
      SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace x5::win
