#pragma once
// Following the foreground for all containers: which windows' activation is
// noise, and what a real foreground change means for each container. Plain
// code behind a small interface of window facts, so the decisions are tested
// without windows; the main window applies the plan.
#include <windows.h>

#include <span>
#include <string_view>
#include <vector>

namespace vm::container {

// Windows whose activation is not a real foreground change: the program's own
// hidden utility windows, the system's and sibling tools' task switchers,
// Windows 11's task-switching host, foreground staging and taskbar overlays.
// `title` is read only for "XamlExplorerHostIslandWindow" (first 100 characters).
bool IsIgnoredForegroundWindow(std::wstring_view class_name, std::wstring_view title,
                               bool own_process);

// What the tracker needs to know about a window.
class WindowFacts {
 public:
  virtual ~WindowFacts() = default;
  virtual bool IsWindow(HWND window) const = 0;
  virtual UINT ClassAtom(HWND window) const = 0;
  virtual bool IsOwnProcess(HWND window) const = 0;
  virtual HWND FirstChild(HWND window) const = 0;        // GetWindow(GW_CHILD)
  virtual HWND RootOwner(HWND window) const = 0;         // GetAncestor(GA_ROOTOWNER)
  virtual HWND HostingContainer(HWND window) const = 0;  // its PropContainerWnd
};

struct TrackingAtoms {
  UINT net_ui_tool_window = 0;  // Office-style ribbon tool windows
  UINT tab_sheet = 0;           // our tab sheets, which host the docked windows
  UINT task_switchers[3] = {};  // "TaskSwitcherWnd", "MultitaskingViewFrame", the sibling's

  bool IsTaskSwitcher(UINT atom) const {
    for (UINT a : task_switchers) {
      if (a != 0 && a == atom) return true;
    }
    return false;
  }
};

// The main window's fields that this decision reads and writes.
struct ForegroundMemory {
  // The window the program itself made foreground last, until its notice
  // arrives; notices of other windows are stale meanwhile.
  HWND last_foreground_window = nullptr;
  // The thread that last showed a ribbon tool window.
  DWORD last_ribbon_tool_thread = 0;
};

enum class ContainerAction {
  None,             // the container to keep active: left alone
  WindowActivated,  // it hosts the new foreground window
  Activate,         // it is the new foreground window itself
  Deactivate,
};

struct ForegroundPlan {
  HWND set_active = nullptr;  // SetActiveWindow on it: the change we caused arrived
  bool stop = true;           // nothing more to do
  HWND window = nullptr;      // the window the change is about, after following sheets and owners
  std::vector<ContainerAction> actions;  // one per container, in list order
  bool end_alt_tab = false;              // the foreground left the task switcher
};

// The decision for a foreground notice about `window` raised on `thread`.
// `containers` are the container windows in list order.
ForegroundPlan PlanForegroundChange(ForegroundMemory& memory, HWND window, DWORD thread,
                                    std::span<const HWND> containers, HWND container_to_keep_active,
                                    const TrackingAtoms& atoms, const WindowFacts& facts);

}  // namespace vm::container
