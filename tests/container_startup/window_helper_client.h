#pragma once
// The test side of vm_window_helper.exe: starts it, finds its control window
// and drives it; stops it (by handle) when dropped.
#include <windows.h>

#include <string>

#include "tests/container_startup/window_helper_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test {

// The session's foreground lock timeout as a fresh process reads it.
inline DWORD ForegroundLockTimeoutSeenByANewProcess() {
  ChildProcess reader(TestPath(L"vm_window_helper.exe"), L"--foreground-lock-timeout");
  return reader.WaitExit(10000);
}

class WindowHelper {
 public:
  WindowHelper() : name_(UniqueName(L"helper")) {
    process_ = ChildProcess(TestPath(L"vm_window_helper.exe"), name_);
    PumpUntil(
        [&] {
          control_ = FindWindowW(window_helper::kControlClass, name_.c_str());
          return control_ != nullptr;
        },
        10000);
  }
  ~WindowHelper() {
    if (control_ != nullptr) PostMessageW(control_, WM_CLOSE, 0, 0);
    process_.WaitExit(5000);
  }
  WindowHelper(const WindowHelper&) = delete;
  WindowHelper& operator=(const WindowHelper&) = delete;

  bool ready() const { return control_ != nullptr; }
  DWORD process_id() const { return process_.id(); }

  HWND CreateWindowOf(window_helper::WindowKind kind = window_helper::kPlainWindow,
                      bool visible = true) {
    return reinterpret_cast<HWND>(Send(window_helper::kCreateWindow, kind, visible ? 1 : 0));
  }
  // NotifyWinEvent raised inside the helper process.
  void Notify(DWORD event, HWND window) {
    Send(window_helper::kNotifyWinEvent, event, reinterpret_cast<LPARAM>(window));
  }
  bool Destroy(HWND window) {
    return Send(window_helper::kDestroyWindow, 0, reinterpret_cast<LPARAM>(window)) != 0;
  }

 private:
  LRESULT Send(UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (control_ == nullptr ||
        !SendMessageTimeoutW(control_, message, wparam, lparam, SMTO_NORMAL, 5000, &result)) {
      return 0;
    }
    return static_cast<LRESULT>(result);
  }

  std::wstring name_;
  ChildProcess process_;
  HWND control_ = nullptr;
};

}  // namespace vm::test
