#pragma once
// A container window (class "VellmarkTools_FoliantContainerWindow"): a
// top-level window whose tabs hold foreign top-level windows, normally
// Explorer folder windows of another process.
//
// Window tree: the container; its tab strip (a child filling the client
// area); the active tab's sheet, a child of the strip sized to its page area;
// the docked window, a child of its sheet. Inactive sheets are parked as
// top-level windows with their docked window inside, so that switching tabs
// moves only our own sheets and never waits for the other process.
//
// A docked window stays as long as its lock set is not empty. When the last
// lock goes the window is given back 500 ms later (a timer whose id is the
// window's handle), unless a dock request arrives meanwhile; the released
// windows cascade one caption height from the container.
//
// Every call into a docked window is bounded (docked_window_calls.h): a hung
// Explorer thread must never freeze the container.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/names.h"
#include "container/base_window.h"
#include "container/container_theme.h"
#include "container/dock_locks.h"
#include "container/tab_strip.h"

namespace vm::container {

class MainWindow;
class TabSheet;
class ContainerWindow;

// Caption suffix of a container.
inline constexpr wchar_t kContainerCaptionSuffix[] = L" - Vellmark Foliant";
// How long a window without locks stays docked before it is given back.
inline constexpr UINT kUndockDelayMs = 500;
// A window that does not answer when its dock request arrives is asked again
// this often, for this long; then it is left as it is, a window of its own.
inline constexpr UINT kDockRetryMs = 250;
inline constexpr int kDockRetries = 40;
// A container opened for a new folder window that never comes closes after
// this long, unseen as it is.
inline constexpr UINT kFirstWindowWaitMs = 10000;

// One docked window, owned by its tab (TWndInfo).
struct WndInfo {
  HWND window = nullptr;
  DockLocks locks;
  ContainerWindow* container = nullptr;
  std::unique_ptr<TabSheet> sheet;
  // WM_CLOSE was posted: look-ups by the handle no longer find it, only the
  // destroy notice does.
  bool closing = false;
  // The window did not answer when its sheet had to leave the strip: the
  // sheet stays there, below the active one, until the window's thread
  // answers the WM_NULL sent with SendMessageCallbackW.
  bool awaiting_answer = false;

  WndInfo();
  ~WndInfo();
};

class ContainerWindow final : public BaseWindow<ContainerWindow>, private TabStripEvents {
 public:
  explicit ContainerWindow(MainWindow& main);
  ~ContainerWindow() override;

  // Creates the window hidden, with its tab strip. With left and top both
  // other than -32000 it is placed at exactly that rectangle; otherwise the
  // system chooses.
  bool Create(int left, int top, int width, int height);

  // ---- Docking (operations of the main window and of other containers) ----
  // Docks the window, or adds the lock when it is already here. A pending
  // deferred undock of the window is cancelled.
  void DockWindow(HWND window, names::DockLock lock);
  // Removes the lock; when none is left the window is given back 500 ms later
  // (at once for the undocking-timer lock). Nothing for a window not here.
  void UndockWindow(HWND window, names::DockLock lock);
  // Gives every window back now, last tab first.
  void UndockAllWindows();
  // Moves a docked window with its locks into `target`.
  void MoveWindowToOtherContainer(HWND window, ContainerWindow& target);

  // ---- Tab behaviour ----
  // The window was destroyed (WinEvent notice): its tab goes.
  void WindowClosed(HWND window);
  // The window's caption (or icon) changed.
  void WindowCaptionChanged(HWND window);
  // A docked window of this container became foreground.
  void WindowActivated(HWND window);
  // The container's own active look, driven by the main window.
  void ActivateContainer();
  void DeactivateContainer();
  // Makes tab `index` active and brings its window forward.
  void SelectTab(int index);
  // Closes the tab's window (posts WM_CLOSE); its tab goes when the window
  // is destroyed. Nothing while the window shows a popup of its own.
  void CloseTab(int index);
  // A CMD_TAB_* command.
  void ExecuteTabCommand(std::uint16_t command);

  // ---- Queries ----
  bool IsActive() const { return active_look_; }
  bool HoldsWindow(HWND window) const { return Find(window) >= 0; }
  // The active tab's window; null without tabs (the WM_TC_GETACTIVEWINDOW answer).
  HWND ActiveWindow() const;
  std::size_t WindowCount() const;
  int ActiveIndex() const;
  HWND WindowAt(int index) const;
  const DockLocks* LocksOf(HWND window) const;
  TabStrip* tab_strip() const { return strip_.get(); }
  int caption_height() const { return caption_height_; }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  // TabStripEvents
  bool OnTabChanging(int current) override;
  void OnTabChanged(int active, int previous) override;
  void OnTabMouseDown(int tab, POINT pt) override;
  void OnCloseClicked(int tab) override;
  void OnMiddleClicked(int tab) override;
  void OnAddClicked() override;
  void OnMouseLeave() override;
  void OnResized() override;
  std::wstring TooltipText(int tab) override;

  WndInfo* Record(int index) const;
  int Find(HWND window) const;  // live tabs only; -1 when none
  int FindClosing(HWND window) const;

  void Release(int index);         // gives the window back now, then RemoveTab
  void GiveBack(WndInfo& record);  // styles, parent, properties
  void RemoveTab(int index);
  void ShowTabs();
  void ShowActiveSheet(WndInfo& record);
  void ShowInactiveSheet(WndInfo& record);
  void AwaitAnswer(WndInfo& record);
  void OnWindowAnswered(HWND window);
  void RequestRelayout();
  void Relayout();
  void ArrangeParkedSheets();
  // False when the window already lies there (nothing was asked of it).
  bool SizeDockedWindow(HWND window, RECT area, bool show, bool answers = true);
  void UpdateContainerCaption();
  void TabsChanged();  // show the tabs, relayout, caption
  void BringForward(HWND window);
  bool ForegroundAllowed(HWND window);
  void NewTab(bool new_container);
  void CloseContainer();
  void OnForwardKey(HWND window, LPARAM lparam);
  void RefreshLook();  // light or dark, as the user chose for apps
  std::vector<HWND> DockedWindows() const;
  RECT ParkedOffset(RECT area) const;

  // Dock requests of windows that did not answer yet.
  struct PendingDock {
    HWND window;
    names::DockLock lock;
    int attempts;
  };
  void DeferDock(HWND window, names::DockLock lock);
  void RetryPendingDocks();
  void AwaitFirstWindow();
  void CloseIfNothingCame();

  MainWindow& main_;
  std::vector<PendingDock> pending_docks_;
  std::unique_ptr<TabStrip> strip_;
  ContainerTheme theme_;
  std::vector<std::unique_ptr<WndInfo>> records_;
  RECT undock_rc_{};
  int caption_height_ = 0;
  HICON big_icon_ = nullptr;
  HICON big_icon_source_ = nullptr;  // the handle big_icon_ was copied from
  std::wstring caption_;             // the caption last given to the container
  bool relayout_posted_ = false;     // a WM_TC_RELAYOUT is on its way
  bool strip_redraw_off_ = false;    // during a size change of the container
  bool active_look_ = false;
  bool mouse_is_down_ = false;
  POINT mouse_down_pt_{};
  int previous_active_index_ = -1;
  bool activated_by_mouse_ = false;
  bool closing_ = false;
  int busy_depth_ = 0;  // docking, relayout or a tab command in progress
};

}  // namespace vm::container
