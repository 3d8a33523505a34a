#pragma once
// Binds a C++ object to its window: the object pointer travels in
// CreateWindowExW's lpParam, is stored on WM_NCCREATE and found again for
// every later message. Derived classes implement
//     LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
// and call DefaultHandling() for what they do not handle. Exceptions never
// leave the window procedure: a throwing handler falls back to the default
// handling of the message.
#include <windows.h>

namespace vm::container {

template <typename T>
class BaseWindow {
 public:
  BaseWindow(const BaseWindow&) = delete;
  BaseWindow& operator=(const BaseWindow&) = delete;

  HWND hwnd() const noexcept { return hwnd_; }

 protected:
  BaseWindow() = default;
  // A window that outlives its object would call into freed memory: it is
  // unbound first (so its last messages go to DefWindowProcW) and destroyed.
  ~BaseWindow() {
    if (HWND window = hwnd_) {
      hwnd_ = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      DestroyWindow(window);
    }
  }

  // Registers the class once per process; the class's window procedure is ours.
  static bool RegisterWindowClass(WNDCLASSEXW wc) {
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &BaseWindow::WndProc;
    if (wc.hInstance == nullptr) wc.hInstance = GetModuleHandleW(nullptr);
    if (wc.hCursor == nullptr) wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(wc.hInstance, wc.lpszClassName, &existing)) return true;
    return RegisterClassExW(&wc) != 0;
  }

  // CreateWindowExW with this object bound from the first message on.
  HWND CreateBound(DWORD ex_style, const wchar_t* class_name, const wchar_t* title, DWORD style,
                   int x, int y, int width, int height, HWND parent, HINSTANCE instance) {
    if (instance == nullptr) instance = GetModuleHandleW(nullptr);
    return CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, nullptr,
                           instance, static_cast<T*>(this));
  }

  LRESULT DefaultHandling(UINT message, WPARAM wparam, LPARAM lparam) const noexcept {
    return DefWindowProcW(hwnd_, message, wparam, lparam);
  }

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) noexcept {
    T* self = nullptr;
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      self = static_cast<T*>(create->lpCreateParams);
      if (self != nullptr) {
        self->hwnd_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      }
    } else {
      self = reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);

    LRESULT result = 0;
    try {
      result = self->HandleMessage(message, wparam, lparam);
    } catch (...) {
      result = DefWindowProcW(window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
      // The last message: the object may outlive the window, never the reverse.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      if (self->hwnd_ == window) self->hwnd_ = nullptr;
    }
    return result;
  }

  HWND hwnd_ = nullptr;
};

}  // namespace vm::container
