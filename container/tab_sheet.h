#pragma once
// A tab's page window (class "VellmarkTools_FoliantTab"): the parent of one
// docked window. The active tab's sheet is a child of the tab strip, sized to
// its page area; inactive sheets are parked as top-level windows on the
// desktop (the container moves them, see its "show the tabs" step).
//
// A parked sheet must not appear on the desktop by accident: while its parent
// is the desktop window and it is not marked visible, requests to show it
// (SWP_SHOWWINDOW, ShowWindow) are dropped. The container marks a parked
// sheet visible only when it wants it shown (cloaked) there, e.g. for live
// taskbar previews on Windows 8 and later.
#include <windows.h>

#include <memory>

namespace vm::container {

// Flags for every move, show and hide of a sheet. Without SWP_DEFERERASE the
// system erases the uncovered windows at once, and for a docked window of
// another thread (Wine sends it WM_NCPAINT) that waits for the thread: a hung
// Explorer window would hold the container. Deferred, each window erases
// when its own thread paints.
inline constexpr UINT kSheetMoveFlags = SWP_NOACTIVATE | SWP_DEFERERASE;

class TabSheet {
 public:
  // A hidden child of `parent` (normally the tab strip), not marked visible.
  static std::unique_ptr<TabSheet> Create(HWND parent);
  ~TabSheet();  // destroys the window (and with it a docked window still inside)
  TabSheet(const TabSheet&) = delete;
  TabSheet& operator=(const TabSheet&) = delete;

  HWND hwnd() const { return hwnd_; }

  // Marks the sheet visible or not and shows or hides it accordingly.
  void SetMarkedVisible(bool visible);
  bool marked_visible() const { return marked_visible_; }
  // Marks the sheet visible and shows it at `rect` (its parent's client
  // coordinates) in one move, above its siblings when `to_top`.
  void ShowAt(const RECT& rect, bool to_top);

 private:
  TabSheet() = default;
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM) noexcept;

  HWND hwnd_ = nullptr;
  bool marked_visible_ = false;
};

}  // namespace vm::container
