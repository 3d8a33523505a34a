// A stand-in for the container program where the start tests need one that
// behaves in a chosen way: single instance through the container's mapping,
// and the hidden main window (class "VellmarkTools_FoliantMainWindow", title
// ""), created before the program first waits for input, like the real one.
// It records the dock and undock requests it receives.
//
//   container_standin.exe [--exit] [--no-window] [--window-delay=<ms>]
//
// --exit: ends at once (a program that dies during start-up).
// --no-window: becomes idle but never shows the main window.
// --window-delay: sleeps before creating the window, so that concurrent
//   starters really overlap.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "common/names.h"
#include "common/unique_handle.h"
#include "tests/protocol/container_standin.h"

namespace {

namespace cs = vm::test::container_standin;

struct Requests {
  LRESULT count = 0;
  LRESULT window = 0;
  LRESULT lock = -1;
};
Requests g_dock, g_undock;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case vm::names::WM_TC_DOCKWINDOW:
      g_dock = {g_dock.count + 1, static_cast<LRESULT>(wparam), lparam};
      return 0;
    case vm::names::WM_TC_UNDOCKWINDOW:
      g_undock = {g_undock.count + 1, static_cast<LRESULT>(wparam), lparam};
      return 0;
    case cs::kQueryDockCount:
      return g_dock.count;
    case cs::kQueryLastDockWindow:
      return g_dock.window;
    case cs::kQueryLastDockLock:
      return g_dock.lock;
    case cs::kQueryUndockCount:
      return g_undock.count;
    case cs::kQueryLastUndockWindow:
      return g_undock.window;
    case cs::kQueryLastUndockLock:
      return g_undock.lock;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A GUI program like the container, so that WaitForInputIdle means the same.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  bool no_window = false;
  DWORD delay = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--exit") == 0) return 0;
    if (std::wcscmp(argv[i], L"--no-window") == 0) no_window = true;
    if (std::wcsncmp(argv[i], L"--window-delay=", 15) == 0)
      delay = std::wcstoul(argv[i] + 15, nullptr, 10);
  }

  // Single instance, as the container does it: the first process owns the mapping.
  const std::wstring instance = std::wstring(L"Local\\") + vm::names::kContainerInstanceId;
  vm::UniqueHandle guard(
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, instance.c_str()));
  if (!guard || GetLastError() == ERROR_ALREADY_EXISTS) return 0;

  if (delay != 0) Sleep(delay);
  if (!no_window) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = vm::names::kMainWindowClass;
    RegisterClassW(&wc);
    if (!CreateWindowExW(0, vm::names::kMainWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                         nullptr, wc.hInstance, nullptr)) {
      return 3;
    }
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
