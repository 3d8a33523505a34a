#pragma once
// Small RAII owners for the Win32 handles the deliverables hold.
#include <windows.h>

#include <utility>

namespace vm {

template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::valid(value_); }
  T release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(T value = Traits::invalid()) noexcept {
    T old = std::exchange(value_, value);
    if (Traits::valid(old)) Traits::close(old);
  }

 private:
  T value_ = Traits::invalid();
};

struct KernelHandleTraits {
  static HANDLE invalid() noexcept { return nullptr; }
  static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;

struct MapViewTraits {
  static void* invalid() noexcept { return nullptr; }
  static bool valid(void* p) noexcept { return p != nullptr; }
  static void close(void* p) noexcept { ::UnmapViewOfFile(p); }
};
using UniqueMapView = UniqueResource<void*, MapViewTraits>;

struct HookTraits {
  static HHOOK invalid() noexcept { return nullptr; }
  static bool valid(HHOOK h) noexcept { return h != nullptr; }
  static void close(HHOOK h) noexcept { ::UnhookWindowsHookEx(h); }
};
using UniqueHook = UniqueResource<HHOOK, HookTraits>;

struct WinEventHookTraits {
  static HWINEVENTHOOK invalid() noexcept { return nullptr; }
  static bool valid(HWINEVENTHOOK h) noexcept { return h != nullptr; }
  static void close(HWINEVENTHOOK h) noexcept { ::UnhookWinEvent(h); }
};
using UniqueWinEventHook = UniqueResource<HWINEVENTHOOK, WinEventHookTraits>;

struct ModuleTraits {
  static HMODULE invalid() noexcept { return nullptr; }
  static bool valid(HMODULE h) noexcept { return h != nullptr; }
  static void close(HMODULE h) noexcept { ::FreeLibrary(h); }
};
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;

struct WindowTraits {
  static HWND invalid() noexcept { return nullptr; }
  static bool valid(HWND h) noexcept { return h != nullptr; }
  static void close(HWND h) noexcept { ::DestroyWindow(h); }
};
using UniqueWindow = UniqueResource<HWND, WindowTraits>;

struct GdiObjectTraits {
  static HGDIOBJ invalid() noexcept { return nullptr; }
  static bool valid(HGDIOBJ h) noexcept { return h != nullptr; }
  static void close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
using UniqueGdiObject = UniqueResource<HGDIOBJ, GdiObjectTraits>;

}  // namespace vm
