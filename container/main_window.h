#pragma once
// The container program's hidden main window: its address for everything
// other processes send (dock and undock requests, WinEvent notices, the
// Alt+Tab hot-key notice). It owns the container windows, chooses the
// container for each docked window, follows the foreground for all of them
// and ends the program when the last container is gone.
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "container/alt_tab_state.h"
#include "container/base_window.h"
#include "container/foreground_tracking.h"

namespace vm::container {

class ContainerWindow;

// Brings a window to the foreground: fails at once when it is not a window or
// already foreground; otherwise tries SetForegroundWindow up to 6 times,
// 100 ms apart. True when one call succeeded.
bool BringWindowToForeground(HWND window);

class MainWindow final : public BaseWindow<MainWindow> {
 public:
  struct Options {
    // The program's main window ends the message loop when it is destroyed;
    // a test that hosts one in its own process keeps its loop.
    bool quit_when_destroyed = true;
  };

  explicit MainWindow(Options options);
  MainWindow() : MainWindow(Options{}) {}
  ~MainWindow();

  // Registers the class atoms and the window class, creates the hidden
  // window, admits the cross-process messages and installs the hooks. One
  // main window per process at a time. False when the window failed.
  bool Create();

  // ---- Operations containers call ----
  // A new, hidden container appended to the list; null when it failed.
  // Left and top both -32000 let the system choose the rectangle.
  ContainerWindow* CreateNewContainer(int left, int top, int width, int height);
  // The container's window is being destroyed: it leaves the list, and with
  // the last one the main window closes, which ends the program.
  void OnContainerDestroyed(ContainerWindow* container);
  // The container for the next dock request only.
  void SetContainerForNextDockWindow(ContainerWindow* container);
  // Activates `window` 100 ms from now (null cancels).
  void ActivateWindowByTimer(HWND window);
  void AltTabSwitcherStart();
  void AltTabSwitcherEnd();
  bool GetAltTabState(HWND& previous_foreground, bool& via_hotkey, int& direction) const;
  // Opens a new Explorer folder window, which the hook library then asks to
  // dock (see open_folder_window).
  void OpenNewFolderWindow();
  // The program itself made `window` foreground: foreground notices of other
  // windows are stale until its own notice arrives, or for at most
  // kForegroundNoticeWaitMs (a notice the system never raised must not stop
  // the tracking for good).
  void ExpectForegroundNotice(HWND window);
  static constexpr ULONGLONG kForegroundNoticeWaitMs = 1000;
  // The live containers in creation order.
  std::vector<ContainerWindow*> Containers() const;

  // ---- Fields containers read and write ----
  HWND window_being_docked = nullptr;
  HWND window_being_undocked = nullptr;
  HWND container_to_keep_active = nullptr;  // its active look survives foreground changes
  ForegroundMemory foreground;              // incl. LastForegroundWindow
  bool drag_over_container = false;         // an OLE drag is over a container
  bool activating_window = false;           // the program itself is moving the foreground
  // The next docked window gives its container its own rectangle: set at
  // start (the program's first window) and by the new-container command.
  bool take_next_window_rect = true;
  // How a new folder window is opened: by default a synthesised Win+E, which
  // Explorer answers with a new window. A seam for hosts where nothing
  // answers Win+E (tests under Wine).
  std::function<void()> open_folder_window;

  // ---- For tests ----
  bool WinEventHooksInstalled() const;
  bool KeyboardHookInstalled() const { return keyboard_hook_ != nullptr; }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  static void CALLBACK WinEventProc(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                    LONG child, DWORD thread, DWORD time) noexcept;
  static LRESULT CALLBACK KeyboardProc(int code, WPARAM wparam, LPARAM lparam) noexcept;

  void AdmitMessages();
  void InstallHooks();
  void RemoveHooks();

  void OnDockRequest(HWND window, LPARAM lock);
  void OnUndockRequest(HWND window, LPARAM lock);
  void OnWinEventNotice(WPARAM event, HWND window);
  void OnForegroundChanged(DWORD thread, HWND window);
  void OnUndockAll();
  void OnActivateWindowTimer();
  void CloseProgram();

  bool IsLive(const ContainerWindow* container) const;
  HWND TopmostOwnContainer() const;
  std::vector<HWND> ContainerHandles() const;
  template <typename F>
  void ForEachContainer(F&& f);  // list order; skips containers gone meanwhile
  template <typename F>
  void ForEachContainerReversed(F&& f);

  Options options_;
  std::vector<std::unique_ptr<ContainerWindow>> containers_;
  // Containers whose window is gone; freed once their window procedure has
  // returned (never from inside it).
  std::vector<std::unique_ptr<ContainerWindow>> retired_;
  ContainerWindow* next_dock_container_ = nullptr;
  HWINEVENTHOOK win_event_hooks_[3] = {};
  HHOOK keyboard_hook_ = nullptr;
  AltTabState alt_tab_;
  TrackingAtoms atoms_;
  HWND activate_target_ = nullptr;
  ULONGLONG foreground_expected_at_ = 0;
  bool activate_timer_running_ = false;
};

}  // namespace vm::container
