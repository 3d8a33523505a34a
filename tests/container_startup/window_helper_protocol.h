#pragma once
// Commands of vm_window_helper.exe, a process with windows of its own that
// plays "another application" for the container tests. The test finds its
// control window (class below, title = the name given on the command line)
// and sends it these messages.
#include <windows.h>

namespace vm::test::window_helper {

inline constexpr wchar_t kControlClass[] = L"VmWindowHelperControl";

enum WindowKind : WPARAM {
  kPlainWindow = 0,   // class "VmHelperWindow"
  kTaskSwitcher = 1,  // class "TaskSwitcherWnd"
  kRibbonTool = 2,    // class "Net UI Tool Window"
};

// wParam: WindowKind, lParam: non-zero to show it (without activating).
// Returns the new window.
inline constexpr UINT kCreateWindow = WM_APP + 1;
// wParam: event, lParam: window. The helper raises the WinEvent with
// NotifyWinEvent (OBJID_WINDOW, CHILDID_SELF). Returns 1.
inline constexpr UINT kNotifyWinEvent = WM_APP + 2;
// lParam: window to destroy. Returns 1 when it was destroyed.
inline constexpr UINT kDestroyWindow = WM_APP + 3;

}  // namespace vm::test::window_helper
