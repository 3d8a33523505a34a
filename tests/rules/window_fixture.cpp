// Windows of another process for the rule tests (see window_fixture.h).
// Ends when its plain window is closed, or after a minute as a safety net.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "tests/rules/window_fixture.h"

namespace {

namespace rf = vm::test::rules_fixture;

std::wstring g_tag;

LRESULT CALLBACK PlainProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_TIMER:
    case WM_CLOSE:
      DestroyWindow(wnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(wnd, msg, wparam, lparam);
}

LRESULT CALLBACK HungProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == rf::kHangMessage) {
    if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, rf::HungEventName(g_tag).c_str())) {
      SetEvent(event);
      CloseHandle(event);
    }
    Sleep(rf::kHangMs);  // a thread that stops answering, as a hung application does
    return 0;
  }
  return DefWindowProcW(wnd, msg, wparam, lparam);
}

DWORD WINAPI HungThread(void*) {
  HWND wnd = CreateWindowExW(0, rf::kHungClass, rf::HungTitle(g_tag).c_str(), WS_OVERLAPPEDWINDOW,
                             0, 0, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (wnd == nullptr) return 1;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

void Register(const wchar_t* name, WNDPROC proc, int extra = 0) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  wc.cbWndExtra = extra;
  RegisterClassW(&wc);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 2;
  g_tag = argv[1];
  const LONG_PTR client_pid = _wtoi(argv[2]);

  Register(rf::kPlainClass, PlainProc);
  Register(rf::kConsoleClass, DefWindowProcW, sizeof(LONG_PTR));
  Register(rf::kHungClass, HungProc);
  Register(rf::kWpfParentClass, DefWindowProcW);
  Register(rf::kWpfChildClass, DefWindowProcW);

  HWND plain =
      CreateWindowExW(0, rf::kPlainClass, rf::PlainTitle(g_tag).c_str(), WS_OVERLAPPEDWINDOW, 0, 0,
                      200, 100, nullptr, nullptr, instance, nullptr);
  HWND console =
      CreateWindowExW(0, rf::kConsoleClass, rf::ConsoleTitle(g_tag).c_str(), WS_OVERLAPPEDWINDOW, 0,
                      0, 200, 100, nullptr, nullptr, instance, nullptr);
  if (console) SetWindowLongPtrW(console, 0, client_pid);
  HWND wpf =
      CreateWindowExW(0, rf::kWpfParentClass, rf::WpfTitle(g_tag).c_str(), WS_OVERLAPPEDWINDOW, 0,
                      0, 200, 100, nullptr, nullptr, instance, nullptr);
  if (wpf) {
    CreateWindowExW(0, rf::kWpfChildClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, wpf, nullptr,
                    instance, nullptr);
  }
  if (!plain || !console || !wpf) return 3;
  CloseHandle(CreateThread(nullptr, 0, HungThread, nullptr, 0, nullptr));
  SetTimer(plain, 1, 60000, nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  ExitProcess(0);  // the hung window's thread may still sleep
}
