#include "container/main_window.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "common/names.h"
#include "common/shared_names.h"
#include "common/system_info.h"
#include "container/container_choice.h"
#include "container/container_window.h"
#include "container/dock_locks.h"
#include "container/docked_window_calls.h"
#include "container/key_forwarding.h"

namespace vm::container {
namespace {

using namespace vm::names;

constexpr UINT_PTR kActivateWindowTimer = 1;
constexpr UINT kActivateWindowDelayMs = 100;
constexpr UINT_PTR kAltTabClosedTimer = 2;
constexpr UINT kAltTabClosedDelayMs = 200;
// Internal: frees retired containers once their window procedure returned.
constexpr UINT kReapContainersMessage = WM_USER + 0x100;

// WinEvents the main window follows, one hook each.
constexpr DWORD kHookedEvents[3] = {EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_SWITCHSTART,
                                    EVENT_SYSTEM_SWITCHEND};

// The one main window of the process: the WinEvent and keyboard callbacks,
// which carry no context, post to it.
MainWindow* g_main_window = nullptr;

bool IsOwnProcessWindow(HWND window) {
  DWORD process_id = 0;
  return GetWindowThreadProcessId(window, &process_id) != 0 && process_id == GetCurrentProcessId();
}

bool IsOwnContainer(HWND window) {
  return window != nullptr && IsOwnProcessWindow(window) &&
         WindowHasClass(window, ClassAtom::ContainerWindow);
}

class SystemWindowFacts final : public WindowFacts {
 public:
  bool IsWindow(HWND window) const override { return ::IsWindow(window) != FALSE; }
  UINT ClassAtom(HWND window) const override {
    return window != nullptr ? GetClassWord(window, GCW_ATOM) : 0;
  }
  bool IsOwnProcess(HWND window) const override { return IsOwnProcessWindow(window); }
  HWND FirstChild(HWND window) const override { return GetWindow(window, GW_CHILD); }
  HWND RootOwner(HWND window) const override { return GetAncestor(window, GA_ROOTOWNER); }
  HWND HostingContainer(HWND window) const override {
    return static_cast<HWND>(GetPropW(window, kPropContainerWnd));
  }
};

bool IsIgnoredWindow(HWND window) {
  wchar_t class_name[128] = {};
  const int length = GetClassNameW(window, class_name, static_cast<int>(std::size(class_name)));
  if (length <= 0) return false;
  const std::wstring_view name(class_name, static_cast<std::size_t>(length));
  wchar_t title[101] = {};
  std::wstring_view title_view;
  if (name == L"XamlExplorerHostIslandWindow") {
    // InternalGetWindowText never sends a message, so a hung owner can't stall us.
    const int n = InternalGetWindowText(window, title, static_cast<int>(std::size(title)));
    title_view = std::wstring_view(title, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  return IsIgnoredForegroundWindow(name, title_view, IsOwnProcessWindow(window));
}

// The messages other processes send the main window, which may run at
// another integrity level (Explorer, the control program).
std::vector<UINT> CrossProcessMessages() {
  std::vector<UINT> messages = {WM_TC_DOCKWINDOW, WM_TC_UNDOCKWINDOW, WM_TC_ALTTABHOTKEY,
                                // Accepted from any process: its sender is outside the product.
                                WM_TC_UNDOCKALL};
  if (Names().win_event != 0) messages.push_back(Names().win_event);
  return messages;
}

}  // namespace

bool BringWindowToForeground(HWND window) {
  if (!IsWindow(window) || GetForegroundWindow() == window) return false;
  for (int attempt = 0; attempt < 6; ++attempt) {
    if (SetForegroundWindow(window)) return true;
    Sleep(100);
  }
  return false;
}

MainWindow::MainWindow(Options options) : options_(options) {}

MainWindow::~MainWindow() {
  RemoveHooks();
  if (g_main_window == this) g_main_window = nullptr;
  // Containers first: their destruction reports back to this object.
  if (HWND window = hwnd()) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  containers_.clear();
  retired_.clear();
}

bool MainWindow::Create() {
  InitSharedNames(Deliverable::Container);
  // Class atoms for the fast class tests of foreground tracking.
  atoms_.net_ui_tool_window = RegisterClipboardFormatW(kNetUiToolWindowClass);
  atoms_.tab_sheet = RegisterClipboardFormatW(kTabSheetClass);
  atoms_.task_switchers[0] = RegisterClipboardFormatW(kTaskSwitcherClass);
  atoms_.task_switchers[1] = RegisterClipboardFormatW(kMultitaskingViewClass);
  atoms_.task_switchers[2] = RegisterClipboardFormatW(kSiblingTaskSwitcherClass);

  // Vista has only the process-wide filter.
  if (Os().flags.vista) {
    for (UINT message : CrossProcessMessages())
      Api().ChangeWindowMessageFilter(message, MSGFLT_ADD);
  }

  WNDCLASSEXW wc{};
  wc.lpszClassName = kMainWindowClass;
  if (!RegisterWindowClass(wc)) return false;
  // Never shown: no taskbar button, no Alt+Tab entry, never activated. The
  // title stays "" because the hook library finds the window by class and
  // that empty title.
  if (CreateBound(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kMainWindowClass, L"", WS_POPUP, -32000,
                  -32000, 0, 0, nullptr, nullptr) == nullptr) {
    return false;
  }
  g_main_window = this;
  AdmitMessages();
  InstallHooks();
  return true;
}

void MainWindow::AdmitMessages() {
  if (!Os().flags.windows7_or_later) return;
  for (UINT message : CrossProcessMessages()) {
    Api().ChangeWindowMessageFilterEx(hwnd(), message, MSGFLT_ALLOW, nullptr);
  }
}

void MainWindow::InstallHooks() {
  // Out of context (flags 0): the callbacks run on this thread, from its
  // message loop, for every process's windows.
  for (std::size_t i = 0; i < std::size(kHookedEvents); ++i) {
    if (win_event_hooks_[i] == nullptr) {
      win_event_hooks_[i] = SetWinEventHook(kHookedEvents[i], kHookedEvents[i], nullptr,
                                            &MainWindow::WinEventProc, 0, 0, 0);
    }
  }
  // A low-level keyboard hook stalls every key press while a debugger holds
  // the program at a breakpoint.
  if (keyboard_hook_ == nullptr && !Api().IsDebuggerPresent()) {
    keyboard_hook_ =
        SetWindowsHookExW(WH_KEYBOARD_LL, &MainWindow::KeyboardProc, GetModuleHandleW(nullptr), 0);
  }
}

void MainWindow::RemoveHooks() {
  if (keyboard_hook_ != nullptr && UnhookWindowsHookEx(keyboard_hook_)) keyboard_hook_ = nullptr;
  for (HWINEVENTHOOK& hook : win_event_hooks_) {
    if (hook != nullptr && UnhookWinEvent(hook)) hook = nullptr;
  }
}

bool MainWindow::WinEventHooksInstalled() const {
  return std::all_of(std::begin(win_event_hooks_), std::end(win_event_hooks_),
                     [](HWINEVENTHOOK h) { return h != nullptr; });
}

void CALLBACK MainWindow::WinEventProc(HWINEVENTHOOK, DWORD event, HWND window, LONG object,
                                       LONG child, DWORD thread, DWORD) noexcept {
  try {
    HWND target = g_main_window != nullptr ? g_main_window->hwnd() : nullptr;
    if (target == nullptr) return;
    switch (event) {
      case EVENT_SYSTEM_FOREGROUND:
      case EVENT_SYSTEM_MINIMIZEEND:
        if (object != OBJID_WINDOW || child != CHILDID_SELF) return;
        if (window == nullptr || !IsWindow(window) || IsIgnoredWindow(window)) return;
        PostMessageW(target, WM_TC_FOREGROUNDCHANGED, thread, reinterpret_cast<LPARAM>(window));
        return;
      case EVENT_SYSTEM_SWITCHSTART:
      case EVENT_SYSTEM_SWITCHEND:
        PostMessageW(target, WM_TC_WINEVENT, event, reinterpret_cast<LPARAM>(window));
        return;
    }
  } catch (...) {
  }
}

LRESULT CALLBACK MainWindow::KeyboardProc(int code, WPARAM wparam, LPARAM lparam) noexcept {
  // Runs for every key of the desktop: only posts, never waits, never swallows.
  if (code == HC_ACTION) {
    try {
      const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
      KeyEvent key{wparam, info->vkCode, info->flags, false};
      if (wparam == WM_KEYDOWN) {
        key.windows_key_down = GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0;
      }
      if (KeyBelongsToContainer(key, Os().flags.windows7_or_later)) {
        HWND foreground = GetForegroundWindow();
        HWND root = foreground != nullptr ? GetAncestor(foreground, GA_ROOT) : nullptr;
        // Only when a docked window (a child of our container) has the focus.
        if (foreground != root && IsOwnContainer(root)) {
          PostMessageW(root, WM_TC_FORWARDKEY, reinterpret_cast<WPARAM>(foreground),
                       ForwardKeyLParam(key));
        }
      }
    } catch (...) {
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// ---------------------------------------------------------------------------
// Containers

ContainerWindow* MainWindow::CreateNewContainer(int left, int top, int width, int height) {
  auto container = std::make_unique<ContainerWindow>(*this);
  if (!container->Create(left, top, width, height)) return nullptr;
  containers_.push_back(std::move(container));
  return containers_.back().get();
}

void MainWindow::OnContainerDestroyed(ContainerWindow* container) {
  auto it = std::find_if(containers_.begin(), containers_.end(),
                         [&](const auto& c) { return c.get() == container; });
  if (it == containers_.end()) return;
  if (next_dock_container_ == container) next_dock_container_ = nullptr;
  if (container->hwnd() != nullptr && container_to_keep_active == container->hwnd()) {
    container_to_keep_active = nullptr;
  }
  retired_.push_back(std::move(*it));
  containers_.erase(it);
  if (hwnd() != nullptr) PostMessageW(hwnd(), kReapContainersMessage, 0, 0);
  if (containers_.empty()) CloseProgram();
}

void MainWindow::CloseProgram() {
  if (HWND window = hwnd()) DestroyWindow(window);
}

static void SynthesiseWinE() {
  // A held Ctrl (Ctrl+T, Ctrl+N) is let go around the keys, so that the
  // system sees a plain Win+E.
  const bool control = GetKeyState(VK_CONTROL) < 0;
  if (control) keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_LWIN, 0, 0, 0);
  keybd_event('E', 0, 0, 0);
  keybd_event('E', 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_LWIN, 0, KEYEVENTF_KEYUP, 0);
  if (control) keybd_event(VK_CONTROL, 0, 0, 0);
}

void MainWindow::OpenNewFolderWindow() {
  if (open_folder_window) {
    open_folder_window();
  } else {
    SynthesiseWinE();
  }
}

void MainWindow::SetContainerForNextDockWindow(ContainerWindow* container) {
  next_dock_container_ = container;
}

std::vector<ContainerWindow*> MainWindow::Containers() const {
  std::vector<ContainerWindow*> list;
  list.reserve(containers_.size());
  for (const auto& c : containers_) list.push_back(c.get());
  return list;
}

bool MainWindow::IsLive(const ContainerWindow* container) const {
  return std::any_of(containers_.begin(), containers_.end(),
                     [&](const auto& c) { return c.get() == container; });
}

std::vector<HWND> MainWindow::ContainerHandles() const {
  std::vector<HWND> handles;
  handles.reserve(containers_.size());
  for (const auto& c : containers_) handles.push_back(c->hwnd());
  return handles;
}

// A container may close while we walk the list (its last window left), so
// the walk goes over a copy and skips the ones gone meanwhile.
template <typename F>
void MainWindow::ForEachContainer(F&& f) {
  for (ContainerWindow* c : Containers()) {
    if (IsLive(c)) f(*c);
  }
}

template <typename F>
void MainWindow::ForEachContainerReversed(F&& f) {
  const std::vector<ContainerWindow*> list = Containers();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (IsLive(*it)) f(**it);
  }
}

HWND MainWindow::TopmostOwnContainer() const {
  HWND found = nullptr;
  // EnumWindows walks the top-level windows from the top of the Z order.
  EnumWindows(
      [](HWND window, LPARAM result) -> BOOL {
        if (!IsOwnContainer(window)) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// ---------------------------------------------------------------------------
// Requests

void MainWindow::OnDockRequest(HWND window, LPARAM lock) {
  // The handle comes from another process: it must be a window, not one of
  // ours (docking a container into itself would swallow it), and the lock a
  // kind we know.
  if (window == nullptr || !IsWindow(window) || IsOwnProcessWindow(window) ||
      !IsKnownDockLock(lock)) {
    return;
  }
  struct RequestScope {
    MainWindow& self;
    ~RequestScope() {
      self.window_being_docked = nullptr;
      // A container named for the next dock serves exactly one request.
      self.next_dock_container_ = nullptr;
    }
  } scope{*this};
  window_being_docked = window;

  if (containers_.empty() && CreateNewContainer(-32000, -32000, 0, 0) == nullptr) return;
  const std::vector<HWND> handles = ContainerHandles();
  HWND named = next_dock_container_ != nullptr && IsLive(next_dock_container_)
                   ? next_dock_container_->hwnd()
                   : nullptr;
  HWND topmost = named == nullptr ? TopmostOwnContainer() : nullptr;
  ContainerWindow* chosen = containers_[ChooseContainer(handles, named, topmost)].get();
  if (chosen->hwnd() != nullptr) container_to_keep_active = chosen->hwnd();
  chosen->DockWindow(window, static_cast<DockLock>(lock));
}

void MainWindow::OnUndockRequest(HWND window, LPARAM lock) {
  if (window == nullptr || !IsWindow(window) || !IsKnownDockLock(lock)) return;
  struct RequestScope {
    MainWindow& self;
    ~RequestScope() { self.window_being_undocked = nullptr; }
  } scope{*this};
  window_being_undocked = window;
  // Only the container that holds the window acts.
  ForEachContainer(
      [&](ContainerWindow& c) { c.UndockWindow(window, static_cast<DockLock>(lock)); });
}

void MainWindow::OnWinEventNotice(WPARAM event, HWND window) {
  switch (event) {
    case EVENT_SYSTEM_SWITCHSTART:
      AltTabSwitcherStart();
      break;
    case EVENT_SYSTEM_SWITCHEND:
      AltTabSwitcherEnd();
      break;
    case EVENT_OBJECT_DESTROY:
      // The window is gone already: only its handle value is compared.
      ForEachContainer([&](ContainerWindow& c) { c.WindowClosed(window); });
      break;
    case EVENT_OBJECT_NAMECHANGE:
      ForEachContainer([&](ContainerWindow& c) { c.WindowCaptionChanged(window); });
      break;
  }
}

void MainWindow::ExpectForegroundNotice(HWND window) {
  foreground.last_foreground_window = window;
  foreground_expected_at_ = GetTickCount64();
}

void MainWindow::OnForegroundChanged(DWORD thread, HWND window) {
  if (foreground.last_foreground_window != nullptr &&
      GetTickCount64() - foreground_expected_at_ > kForegroundNoticeWaitMs) {
    foreground.last_foreground_window = nullptr;
  }
  static const SystemWindowFacts facts;
  // A notice for one of our tab sheets stands for the docked window inside
  // it, whose thread is the one that counts (a ribbon tool window of that
  // thread and the way back to it are no change).
  if (IsOwnProcessWindow(window) && atoms_.tab_sheet != 0 &&
      GetClassWord(window, GCW_ATOM) == atoms_.tab_sheet) {
    if (HWND docked = GetWindow(window, GW_CHILD)) {
      if (DWORD docked_thread = GetWindowThreadProcessId(docked, nullptr)) thread = docked_thread;
    }
  }
  const std::vector<HWND> handles = ContainerHandles();
  const std::vector<ContainerWindow*> list = Containers();
  ForegroundPlan plan = PlanForegroundChange(foreground, window, thread, handles,
                                             container_to_keep_active, atoms_, facts);
  if (plan.set_active != nullptr) SetActiveWindow(plan.set_active);
  if (plan.stop) return;

  for (std::size_t i = 0; i < list.size() && i < plan.actions.size(); ++i) {
    if (!IsLive(list[i])) continue;
    switch (plan.actions[i]) {
      case ContainerAction::WindowActivated:
        list[i]->WindowActivated(plan.window);
        break;
      case ContainerAction::Activate:
        list[i]->ActivateContainer();
        break;
      case ContainerAction::Deactivate:
        list[i]->DeactivateContainer();
        break;
      case ContainerAction::None:
        break;
    }
  }
  const bool any_active = std::any_of(containers_.begin(), containers_.end(),
                                      [](const auto& c) { return c->IsActive(); });
  if (!any_active && !(activate_timer_running_ && activate_target_ != nullptr)) {
    foreground.last_foreground_window = nullptr;
  }
  if (plan.end_alt_tab) AltTabSwitcherEnd();
}

void MainWindow::OnUndockAll() {
  RemoveHooks();
  ForEachContainerReversed([](ContainerWindow& c) { c.UndockAllWindows(); });
  // Containers close with their last window, and the program with the last
  // container. With none left to close the program would linger without its
  // hooks, so it ends here too.
  if (containers_.empty()) CloseProgram();
}

// ---------------------------------------------------------------------------
// Timers and Alt+Tab

void MainWindow::ActivateWindowByTimer(HWND window) {
  KillTimer(hwnd(), kActivateWindowTimer);
  activate_timer_running_ = false;
  activate_target_ = window;
  if (window != nullptr) {
    activate_timer_running_ =
        SetTimer(hwnd(), kActivateWindowTimer, kActivateWindowDelayMs, nullptr) != 0;
  }
}

void MainWindow::OnActivateWindowTimer() {
  KillTimer(hwnd(), kActivateWindowTimer);
  activate_timer_running_ = false;
  HWND target = std::exchange(activate_target_, nullptr);
  if (target == nullptr || !IsWindow(target) || drag_over_container) return;
  activating_window = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{activating_window};
  // Activation waits for the window's thread: a docked window that does not
  // answer within the container's bound is not activated.
  DWORD_PTR answer = 0;
  if (!IsOwnProcessWindow(target) &&
      !SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &answer)) {
    return;
  }
  if (!ForeignForegroundAnswers()) return;
  // The system's notice names a top-level window; for a docked child it
  // names the container, so only a top-level target is waited for.
  if (BringWindowToForeground(target) && GetAncestor(target, GA_ROOT) == target) {
    ExpectForegroundNotice(target);
  }
}

void MainWindow::AltTabSwitcherStart() {
  alt_tab_.SwitcherStarted(GetKeyState(VK_SHIFT) & 0x8000, GetForegroundWindow());
}

void MainWindow::AltTabSwitcherEnd() {
  // The state lives on for a moment: the container Alt+Tab activates reads it.
  if (alt_tab_.SwitcherEnded()) SetTimer(hwnd(), kAltTabClosedTimer, kAltTabClosedDelayMs, nullptr);
}

bool MainWindow::GetAltTabState(HWND& previous_foreground, bool& via_hotkey, int& direction) const {
  previous_foreground = alt_tab_.foreground();
  via_hotkey = alt_tab_.via_hotkey();
  direction = alt_tab_.direction();
  return alt_tab_.invoked();
}

// ---------------------------------------------------------------------------

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TC_DOCKWINDOW:
      OnDockRequest(reinterpret_cast<HWND>(wparam), lparam);
      return 0;
    case WM_TC_UNDOCKWINDOW:
      OnUndockRequest(reinterpret_cast<HWND>(wparam), lparam);
      return 0;
    case WM_TC_ALTTABHOTKEY:
      alt_tab_.HotKeyPressed(static_cast<UINT>(wparam), reinterpret_cast<HWND>(lparam),
                             Os().flags.windows8_or_later);
      return 0;
    case WM_TC_WINEVENT:
      OnWinEventNotice(wparam, reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_TC_FOREGROUNDCHANGED:
      OnForegroundChanged(static_cast<DWORD>(wparam), reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_TC_UNDOCKALL:
      OnUndockAll();
      return 0;
    case kReapContainersMessage:
      retired_.clear();
      return 0;
    case WM_TIMER:
      if (wparam == kActivateWindowTimer) {
        OnActivateWindowTimer();
      } else if (wparam == kAltTabClosedTimer) {
        KillTimer(hwnd(), kAltTabClosedTimer);
        alt_tab_.Clear();
      }
      return 0;
    case WM_CLOSE:
      // Asked to close from outside (the session, a tool): every window goes
      // back to its owner first, nothing is closed or lost.
      OnUndockAll();
      ForEachContainer([](ContainerWindow& c) {
        if (c.hwnd() != nullptr) DestroyWindow(c.hwnd());
      });
      CloseProgram();
      return 0;
    case WM_DESTROY:
      RemoveHooks();
      KillTimer(hwnd(), kActivateWindowTimer);
      KillTimer(hwnd(), kAltTabClosedTimer);
      if (options_.quit_when_destroyed) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (g_main_window == this) g_main_window = nullptr;
      break;
    default:
      if (message != 0 && message == Names().win_event) {
        OnWinEventNotice(wparam, reinterpret_cast<HWND>(lparam));
        return 0;
      }
      break;
  }
  return DefaultHandling(message, wparam, lparam);
}

}  // namespace vm::container
