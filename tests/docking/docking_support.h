#pragma once
// The container program in its own process, driven as the hook library and
// Explorer drive it: dock and undock requests posted to its main window,
// WinEvent notices forwarded for the fixture's folder windows, WM_COMMAND
// tab commands sent to a container as TranslateAcceleratorW sends them.
#include <windows.h>

#include <string>
#include <vector>

#include "common/names.h"
#include "common/shared_names.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test {

inline DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

inline RECT RectOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

inline std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  InternalGetWindowText(window, text, 512);
  return text;
}

// Stands in for the hook library's WinEvent procedure inside Explorer: Wine
// raises no NAMECHANGE or DESTROY itself, the fixture raises them with
// NotifyWinEvent, and this hook (out of context, on the test thread, served
// while the test pumps) posts them to the container's main window as the
// WinEvent message, as the hook library would.
class HookLibraryNotices {
 public:
  HookLibraryNotices(DWORD explorer_pid, HWND main_window) {
    main_window_ = main_window;
    hook_ = SetWinEventHook(EVENT_OBJECT_DESTROY, EVENT_OBJECT_NAMECHANGE, nullptr, &Proc,
                            explorer_pid, 0, WINEVENT_OUTOFCONTEXT);
  }
  ~HookLibraryNotices() {
    if (hook_ != nullptr) UnhookWinEvent(hook_);
    main_window_ = nullptr;
  }
  bool ok() const { return hook_ != nullptr; }

 private:
  static void CALLBACK Proc(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                            DWORD) {
    if (object != OBJID_WINDOW || child != CHILDID_SELF || main_window_ == nullptr) return;
    if (event == EVENT_OBJECT_DESTROY || event == EVENT_OBJECT_NAMECHANGE) {
      PostMessageW(main_window_, Names().win_event, event, reinterpret_cast<LPARAM>(window));
    }
  }
  static inline HWND main_window_ = nullptr;
  HWINEVENTHOOK hook_ = nullptr;
};

class ContainerProgram {
 public:
  static constexpr DWORD kBound = 10000;

  bool Start() {
    InitSharedNames(Deliverable::HookLibrary);
    if (FindWindowW(names::kMainWindowClass, L"") != nullptr) return false;
    process_ = ChildProcess(BinPath(names::kContainerExe), L"-");
    if (!process_.started()) return false;
    return PumpUntil([&] { return (main_ = FindWindowW(names::kMainWindowClass, L"")) != nullptr; },
                     kBound) &&
           ProcessOf(main_) == process_.id();
  }

  HWND main() const { return main_; }
  ChildProcess& process() { return process_; }

  void PostDock(HWND window, LPARAM lock = 1) const {
    PostMessageW(main_, names::WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(window), lock);
  }
  void PostUndock(HWND window, LPARAM lock = 1) const {
    PostMessageW(main_, names::WM_TC_UNDOCKWINDOW, reinterpret_cast<WPARAM>(window), lock);
  }

  static HWND ContainerOf(HWND window) {
    return static_cast<HWND>(GetPropW(window, names::kPropContainerWnd));
  }
  // The sheet holding a docked window, or null.
  static HWND SheetOf(HWND window) {
    HWND parent = GetAncestor(window, GA_PARENT);
    return parent != nullptr && ClassOf(parent) == names::kTabSheetClass ? parent : nullptr;
  }
  // Docked in the full sense: inside a sheet of a visible container.
  static bool IsDocked(HWND window) {
    HWND container = ContainerOf(window);
    return container != nullptr && SheetOf(window) != nullptr && IsWindowVisible(container);
  }

  // Posts the request and waits until the window is docked; its container.
  HWND DockAndWait(HWND window) const {
    PostDock(window);
    if (!PumpUntil([&] { return IsDocked(window); }, kBound)) return nullptr;
    return ContainerOf(window);
  }

  static HWND ActiveWindowOf(HWND container, DWORD timeout_ms = 2000) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(container, names::WM_TC_GETACTIVEWINDOW, 0, 0, SMTO_ABORTIFHUNG,
                             timeout_ms, &result)) {
      return reinterpret_cast<HWND>(-1);
    }
    return reinterpret_cast<HWND>(result);
  }

  // A tab command as the hook library's TranslateAcceleratorW delivers it:
  // a sent WM_COMMAND with high word 1. True when the send returned.
  static bool SendCommand(HWND container, WORD command, DWORD timeout_ms = 2000) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(container, WM_COMMAND, MAKEWPARAM(command, 1), 0, SMTO_ABORTIFHUNG,
                               timeout_ms, &result) != 0;
  }

  // A tab command as a click on the strip reaches the container: through its
  // queue, so it runs only once the container is back in its message loop
  // (a sent request is also answered while the container waits in a call).
  static void PostCommand(HWND container, WORD command) {
    PostMessageW(container, WM_COMMAND, MAKEWPARAM(command, 1), 0);
  }

  // The container paints: its tab strip, invalidated here, is validated by a
  // WM_PAINT, which comes only from the container's queue.
  static bool Repaints(HWND container, DWORD timeout_ms) {
    HWND strip = FindWindowExW(container, nullptr, L"TUnicodePageControl", nullptr);
    if (strip == nullptr || !InvalidateRect(strip, nullptr, FALSE)) return false;
    return PumpUntil([&] { return GetUpdateRect(strip, nullptr, FALSE) == FALSE; }, timeout_ms);
  }

  std::vector<HWND> Containers() const {
    struct Search {
      DWORD pid;
      std::vector<HWND> found;
    } search{process_.id(), {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          if (ProcessOf(window) == s->pid && ClassOf(window) == names::kContainerWindowClass) {
            s->found.push_back(window);
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  ChildProcess process_;
  HWND main_ = nullptr;
};

}  // namespace vm::test
