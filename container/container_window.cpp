#include "container/container_window.h"

#include "container/main_window.h"

namespace vm::container {

using names::DockLock;

ContainerWindow::ContainerWindow(MainWindow& main) : main_(main) {}

ContainerWindow::~ContainerWindow() {
  // Windows still docked keep nothing of ours when the program goes.
  for (const DockedWindow& d : docked_) {
    RemovePropW(d.window, names::kPropContainerWnd);
    RemovePropW(d.window, names::kPropMainWnd);
  }
}

bool ContainerWindow::Create(int left, int top, int width, int height) {
  WNDCLASSEXW wc{};
  wc.lpszClassName = names::kContainerWindowClass;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.style = CS_DBLCLKS;
  if (!RegisterWindowClass(wc)) return false;
  const bool placed = left != -32000 && top != -32000;
  // Top-level and unowned: each container has its own taskbar presence.
  return CreateBound(0, names::kContainerWindowClass, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                     placed ? left : CW_USEDEFAULT, placed ? top : CW_USEDEFAULT,
                     placed ? width : CW_USEDEFAULT, placed ? height : CW_USEDEFAULT, nullptr,
                     nullptr) != nullptr;
}

std::size_t ContainerWindow::Find(HWND window) const {
  for (std::size_t i = 0; i < docked_.size(); ++i) {
    if (docked_[i].window == window) return i;
  }
  return docked_.size();
}

HWND ContainerWindow::ActiveWindow() const {
  return docked_.empty() ? nullptr : docked_[active_ < docked_.size() ? active_ : 0].window;
}

void ContainerWindow::DockWindow(HWND window, DockLock lock) {
  if (window == nullptr || hwnd() == nullptr) return;
  std::size_t index = Find(window);
  const bool was_empty = docked_.empty();
  if (index == docked_.size()) {
    docked_.push_back({window, {}});
    active_ = index;
    // Tell the hook library (and our own foreground tracking) where the
    // window lives now.
    SetPropW(window, names::kPropContainerWnd, hwnd());
    SetPropW(window, names::kPropMainWnd, main_.hwnd());
    WindowCaptionChanged(window);
  }
  DockLocks& locks = docked_[index].locks;
  locks.Add(lock);
  locks.Remove(DockLock::UndockingTimer);  // a pending undock is cancelled
  // A new container stays hidden until its first window is in.
  if (was_empty && !docked_.empty()) ShowWindow(hwnd(), SW_SHOWNOACTIVATE);
  main_.container_to_keep_active = nullptr;
}

void ContainerWindow::UndockWindow(HWND window, DockLock lock) {
  const std::size_t index = Find(window);
  if (index == docked_.size()) return;
  if (!docked_[index].locks.Remove(lock).Empty()) return;
  // The window is given back at once; deferring the release of a window
  // that may come straight back belongs to full docking.
  Release(index);
}

void ContainerWindow::UndockAllWindows() {
  for (std::size_t i = docked_.size(); i-- > 0;) {
    if (i >= docked_.size()) continue;
    docked_[i].locks.Clear();
    Release(i);
  }
}

void ContainerWindow::WindowClosed(HWND window) {
  const std::size_t index = Find(window);
  if (index < docked_.size()) Release(index);
}

void ContainerWindow::WindowCaptionChanged(HWND window) {
  if (hwnd() == nullptr || window != ActiveWindow()) return;
  // InternalGetWindowText reads the stored caption without sending a
  // message, so a hung Explorer thread cannot stall the container.
  wchar_t caption[512] = {};
  InternalGetWindowText(window, caption, static_cast<int>(std::size(caption)));
  SetWindowTextW(hwnd(), caption);
}

void ContainerWindow::WindowActivated(HWND window) {
  const std::size_t index = Find(window);
  if (index < docked_.size()) {
    active_ = index;
    WindowCaptionChanged(window);
  }
  active_look_ = true;
}

void ContainerWindow::ActivateContainer() { active_look_ = true; }

void ContainerWindow::DeactivateContainer() { active_look_ = false; }

void ContainerWindow::Release(std::size_t index) {
  HWND window = docked_[index].window;
  RemovePropW(window, names::kPropContainerWnd);
  RemovePropW(window, names::kPropMainWnd);
  docked_.erase(docked_.begin() + static_cast<std::ptrdiff_t>(index));
  main_.container_to_keep_active = nullptr;
  if (docked_.empty()) {
    active_ = 0;
    // The last tab is gone: the container closes (and tells the main window).
    if (hwnd() != nullptr) DestroyWindow(hwnd());
    return;
  }
  // The left neighbour becomes active, whichever tab was active; removing
  // the first tab leaves the one that followed it.
  active_ = index > 0 ? index - 1 : 0;
  WindowCaptionChanged(ActiveWindow());
}

LRESULT ContainerWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case names::WM_TC_GETACTIVEWINDOW:
      return reinterpret_cast<LRESULT>(ActiveWindow());
    case WM_CLOSE:
      // Until tabs can be closed one by one, closing a container gives every
      // window back rather than closing it: nothing may be lost.
      UndockAllWindows();
      if (hwnd() != nullptr) DestroyWindow(hwnd());
      return 0;
    case WM_DESTROY:
      main_.OnContainerDestroyed(this);
      return 0;
  }
  return DefaultHandling(message, wparam, lparam);
}

}  // namespace vm::container
