// vm_window_helper.exe <name>: windows of another process for the container
// tests (see window_helper_protocol.h). Ends when its control window is
// closed, or after a minute as a safety net.
// vm_window_helper.exe --foreground-lock-timeout: exits with the session's
// foreground lock timeout (Wine caches system parameters per process once
// read, so only a fresh process sees another process's change).
#include <windows.h>

#include <string>

#include "tests/container_startup/window_helper_protocol.h"

namespace {

namespace wh = vm::test::window_helper;

constexpr const wchar_t* kClasses[] = {L"VmHelperWindow", L"TaskSwitcherWnd",
                                       L"Net UI Tool Window"};
int g_created = 0;

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case wh::kCreateWindow: {
      if (wparam >= std::size(kClasses)) return 0;
      const std::wstring title = L"Helper window " + std::to_wstring(++g_created);
      HWND created = CreateWindowExW(0, kClasses[wparam], title.c_str(), WS_OVERLAPPEDWINDOW,
                                     40 * g_created, 40 * g_created, 320, 200, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
      if (created != nullptr && lparam != 0) ShowWindow(created, SW_SHOWNOACTIVATE);
      return reinterpret_cast<LRESULT>(created);
    }
    case wh::kNotifyWinEvent:
      NotifyWinEvent(static_cast<DWORD>(wparam), reinterpret_cast<HWND>(lparam), OBJID_WINDOW,
                     CHILDID_SELF);
      return 1;
    case wh::kDestroyWindow:
      return DestroyWindow(reinterpret_cast<HWND>(lparam)) ? 1 : 0;
    case WM_TIMER:
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  if (std::wstring(command_line) == L"--foreground-lock-timeout") {
    UINT value = 0;
    return SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &value, 0)
               ? static_cast<int>(value)
               : -1;
  }
  WNDCLASSW wc{};
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpfnWndProc = DefWindowProcW;
  for (const wchar_t* name : kClasses) {
    wc.lpszClassName = name;
    RegisterClassW(&wc);
  }
  wc.lpfnWndProc = ControlProc;
  wc.lpszClassName = wh::kControlClass;
  RegisterClassW(&wc);
  HWND control = CreateWindowExW(WS_EX_TOOLWINDOW, wh::kControlClass, command_line, WS_POPUP, 0, 0,
                                 0, 0, nullptr, nullptr, instance, nullptr);
  if (control == nullptr) return 1;
  SetTimer(control, 1, 60000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
