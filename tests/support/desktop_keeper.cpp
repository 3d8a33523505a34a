// Keeps Wine's desktop process alive while the tests run. That process ends
// a moment after the last window of the prefix goes, and the next program
// with a window starts it again: as that program's child it inherits the
// program's output pipe, and ctest then waits for the desktop to end before
// it counts the test as done (under -j2 the tests that follow keep it alive
// to the end of the run). Started detached before the tests, this hidden
// window holds the desktop for the whole run; the scripts end it with the
// prefix's server.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"VmDesktopKeeper";
  if (RegisterClassW(&wc) == 0) return 1;
  // Never shown: it takes no foreground and no input from the tests.
  if (CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                      nullptr, instance, nullptr) == nullptr) {
    return 1;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
