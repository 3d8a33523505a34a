// The dispatcher test's own GUI process: it loads dispatcher_fixture.dll,
// whose hook procedures it installs on its one thread, and makes and drives
// windows when the test asks, until the event named in its first argument
// is set.
#include <windows.h>

#include <string>

#include "tests/dispatcher/fixture_protocol.h"

namespace fx = vm::test::dispatcher_fixture;

namespace {

using StateFn = LRESULT(WINAPI*)(HWND);
using BenchmarkFn = LRESULT(WINAPI*)(HWND, BOOL);
StateFn g_state = nullptr;
StateFn g_caption_count = nullptr;
BenchmarkFn g_benchmark = nullptr;
HWND g_bench_child = nullptr;

LRESULT CALLBACK TestWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == fx::kProbe) return fx::kOwnAnswer;
  if (m == fx::kFire || m == fx::kFireFailing || m == fx::kFirePolicies) return fx::kOwnAnswer;
  return DefWindowProcW(w, m, wp, lp);
}

template <int N>
struct Swallower {
  static inline WNDPROC previous = nullptr;
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    static const UINT service =
        RegisterWindowMessageW(L"ServiceMessage_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}");
    if (m == service && wp == 10) return 0;  // the alive check never gets through
    return CallWindowProcW(previous, w, m, wp, lp);
  }
  static LRESULT Install(HWND w) {
    previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    return previous != nullptr;
  }
};
using InstallFn = LRESULT (*)(HWND);
constexpr InstallFn kInstall[fx::kSwallowers] = {&Swallower<0>::Install, &Swallower<1>::Install,
                                                 &Swallower<2>::Install, &Swallower<3>::Install,
                                                 &Swallower<4>::Install, &Swallower<5>::Install};
int g_swallowers = 0;

LRESULT OnCopyData(const COPYDATASTRUCT* cds) {
  if (cds == nullptr) return 0;
  const auto* text = static_cast<const wchar_t*>(cds->lpData);
  const std::size_t chars = cds->cbData / sizeof(wchar_t);
  switch (cds->dwData) {
    case fx::kCreateHidden: {
      const std::wstring caption(text, chars);
      HWND w = CreateWindowExW(0, fx::kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW, 40, 40,
                               240, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
      return reinterpret_cast<LRESULT>(w);
    }
    case fx::kSetCaption: {
      if (cds->cbData < 8) return 0;
      HWND w = nullptr;
      memcpy(&w, cds->lpData, 8);
      const std::wstring caption(text + 4, chars - 4);
      return SetWindowTextW(w, caption.c_str());
    }
    default:
      return 0;
  }
}

LRESULT CALLBACK ControlProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  HWND target = reinterpret_cast<HWND>(wp);
  switch (m) {
    case WM_COPYDATA:
      return OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lp));
    case fx::kShow:
      ShowWindow(target, SW_SHOWNOACTIVATE);
      return 1;
    case fx::kMove:
      return SetWindowPos(target, nullptr, 60, 60, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    case fx::kState:
      return g_state ? g_state(target) : -1;
    case fx::kCaptionCount:
      return g_caption_count ? g_caption_count(target) : -2;
    case fx::kDestroy:
      return DestroyWindow(target);
    case fx::kSwallow:
      return g_swallowers < fx::kSwallowers ? kInstall[g_swallowers++](target) : 0;
    case fx::kNullCaption:
      return SendMessageW(target, WM_SETTEXT, 0, 0);
    case fx::kBenchmark:
      return g_benchmark ? g_benchmark(g_bench_child, static_cast<BOOL>(lp)) : -1;
    default:
      return DefWindowProcW(w, m, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (__argc < 2) return 100;
  HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, __wargv[1]);
  if (quit == nullptr) return 101;
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.find_last_of(L'\\') + 1);
  HMODULE library = LoadLibraryW((folder + L"dispatcher_fixture.dll").c_str());
  if (library == nullptr) return 102;
  auto install = reinterpret_cast<BOOL(WINAPI*)()>(GetProcAddress(library, "FixtureInstall"));
  g_state = reinterpret_cast<StateFn>(GetProcAddress(library, "FixtureState"));
  g_caption_count = reinterpret_cast<StateFn>(GetProcAddress(library, "FixtureCaptionCount"));
  g_benchmark = reinterpret_cast<BenchmarkFn>(GetProcAddress(library, "FixtureBenchmark"));
  if (install == nullptr || !install()) return 103;

  WNDCLASSW wc{};
  wc.lpfnWndProc = &TestWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = fx::kWindowClass;
  RegisterClassW(&wc);
  wc.lpfnWndProc = &ControlProc;
  wc.lpszClassName = fx::kControlClass;
  RegisterClassW(&wc);
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = L"vm_dispatcher_plain";
  RegisterClassW(&wc);
  HWND control = CreateWindowExW(0, fx::kControlClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 instance, nullptr);
  if (control == nullptr) return 104;
  // A window no rule is about, with a child: the benchmark's non-candidate.
  HWND plain = CreateWindowExW(0, L"vm_dispatcher_plain", L"plain", WS_OVERLAPPEDWINDOW, 0, 0, 50,
                               50, nullptr, nullptr, instance, nullptr);
  g_bench_child = CreateWindowExW(0, L"vm_dispatcher_plain", L"", WS_CHILD, 0, 0, 10, 10, plain,
                                  nullptr, instance, nullptr);
  // A timer keeps messages coming, so that the hooks run and the library
  // starts and its messenger client is resumed.
  SetTimer(control, 1, 30, nullptr);
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &quit, FALSE, 60000, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DestroyWindow(plain);
  DestroyWindow(control);
  return 0;
}
