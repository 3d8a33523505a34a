#pragma once
// A container window: the top-level window whose tabs hold foreign windows
// (Explorer folder windows of another process). This is the container's
// skeleton: it records the windows docked into it with their lock sets, tags
// them with the container properties, shows itself with its first window,
// follows activation and captions, gives windows back and closes when the
// last one leaves, and tells the main window when it is gone. Re-parenting,
// the tab strip, the deferred undock and the frame grow on this class.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "common/names.h"
#include "container/base_window.h"
#include "container/dock_locks.h"

namespace vm::container {

class MainWindow;

class ContainerWindow final : public BaseWindow<ContainerWindow> {
 public:
  explicit ContainerWindow(MainWindow& main);
  ~ContainerWindow();

  // Creates the window hidden. With left and top both other than -32000 it
  // is placed at exactly that rectangle; otherwise the system chooses.
  bool Create(int left, int top, int width, int height);

  // ---- Operations of the main window (and, later, of other containers) ----
  // Docks the window, or adds the lock when it is already here.
  void DockWindow(HWND window, names::DockLock lock);
  // Removes the lock; gives the window back when no lock is left. Does
  // nothing for a window that is not here.
  void UndockWindow(HWND window, names::DockLock lock);
  // Gives every window back now, last tab first.
  void UndockAllWindows();
  // The window was destroyed (WinEvent notice): its tab goes.
  void WindowClosed(HWND window);
  // The window's caption (or icon) changed.
  void WindowCaptionChanged(HWND window);
  // A docked window of this container became foreground.
  void WindowActivated(HWND window);
  // The container itself became foreground, or lost it.
  void ActivateContainer();
  void DeactivateContainer();

  // ---- Queries ----
  bool IsActive() const { return active_look_; }
  bool HoldsWindow(HWND window) const { return Find(window) < docked_.size(); }
  // The active tab's window; null without tabs (also the WM_TC_GETACTIVEWINDOW answer).
  HWND ActiveWindow() const;
  std::size_t WindowCount() const { return docked_.size(); }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  struct DockedWindow {
    HWND window = nullptr;
    DockLocks locks;
  };

  std::size_t Find(HWND window) const;
  // Gives the window at `index` back and removes its tab; closes the
  // container when it was the last.
  void Release(std::size_t index);

  MainWindow& main_;
  std::vector<DockedWindow> docked_;
  std::size_t active_ = 0;  // index into docked_ while it is not empty
  bool active_look_ = false;
};

}  // namespace vm::container
