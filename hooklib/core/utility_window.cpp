#include "hooklib/core/utility_window.h"

#include "hooklib/core/library_state.h"
#include "hooklib/core/stub_pool.h"

namespace vm::hooklib {
namespace {

constexpr char kDefaultClassName[] = "vfo_UtilityWindow";

bool RegisterUtilityClass(HINSTANCE instance, const char* class_name, bool arrow_cursor) noexcept {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExA(instance, class_name, &existing)) {
    if (existing.lpfnWndProc == &DefWindowProcA &&
        existing.cbWndExtra >= static_cast<int>(sizeof(void*))) {
      return true;
    }
    UnregisterClassA(class_name, instance);
  }
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &DefWindowProcA;
  wc.cbWndExtra = sizeof(void*);
  wc.hInstance = instance;
  wc.hCursor = arrow_cursor ? LoadCursorW(nullptr, IDC_ARROW) : nullptr;
  wc.lpszClassName = class_name;
  // A class of that name may still be there (windows of it exist): use it.
  return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND CreateUtilityWindow(const StubMethod* method, HWND parent, const char* class_name, DWORD style,
                         DWORD ex_style) noexcept {
  const HINSTANCE instance = LibraryModule();
  const bool named = class_name != nullptr && class_name[0] != '\0';
  const char* name = named ? class_name : kDefaultClassName;
  if (!RegisterUtilityClass(instance, name, !named)) return nullptr;
  HWND window =
      CreateWindowExA(ex_style, name, "", style, 0, 0, 0, 0, parent, nullptr, instance, nullptr);
  if (window == nullptr || method == nullptr) return window;
  void* stub = StubPool::Instance().AllocateStub(*method);
  if (stub == nullptr) return window;  // a plain window that answers with DefWindowProcA
  SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(stub));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(stub));
  return window;
}

void DestroyUtilityWindow(HWND window) noexcept {
  if (window == nullptr) return;
  void* stub = reinterpret_cast<void*>(SetWindowLongPtrA(window, 0, 0));
  if (!DestroyWindow(window) && IsWindow(window)) {
    // Another thread's window: it closes itself, without our code.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    SendNotifyMessageA(window, WM_CLOSE, 0, 0);
  }
  if (stub != nullptr && StubPool::Instance().IsStub(stub)) StubPool::Instance().FreeStub(stub);
}

}  // namespace vm::hooklib
