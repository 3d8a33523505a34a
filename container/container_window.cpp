#include "container/container_window.h"

#include <algorithm>

#include "common/shared_names.h"
#include "common/system_info.h"
#include "common/tab_commands.h"
#include "container/docked_window_calls.h"
#include "container/main_window.h"
#include "container/tab_sheet.h"

namespace vm::container {
namespace {

using names::DockLock;
using names::IpcCommand;

// Container timers. The deferred undocks use the window handles as ids,
// which never come this low.
constexpr UINT_PTR kFirstNCRedrawTimer = 1;
// Parked sheets follow the page area's size in small batches; on Windows 8
// and later their docked windows too (the taskbar's previews show them).
constexpr UINT_PTR kParkedSheetsTimer = 2;
constexpr UINT kParkedSheetsDelayMs = 100;
constexpr UINT kParkedSheetsNextBatchMs = 10;
constexpr int kParkedSheetsPerBatch = 8;
constexpr UINT_PTR kActivateAfterAeroSnapTimer = 3;
// A burst of colour-set changes reaches the docked windows once, a second
// after the last one: Explorer re-colours itself on each it gets.
constexpr UINT_PTR kColorSetTimer = 5;
constexpr UINT_PTR kDockRetryTimer = 6;
constexpr UINT_PTR kFirstWindowTimer = 7;
constexpr UINT kColorSetDelayMs = 1000;
constexpr UINT_PTR kLastOwnTimer = 0xFF;
// A tab command deferred to the container's own queue.
constexpr UINT kExecuteTabCommandMessage = WM_APP + 0x7F0;
// A docked window that had not answered took in the container's WM_NULL
// (wParam: the window).
constexpr UINT kWindowAnsweredMessage = WM_APP + 0x7F1;
// Turns the strip's redraw on again should a size change end without
// WM_WINDOWPOSCHANGED.
constexpr UINT kStripRedrawMessage = WM_APP + 0x7F2;

// Counts the container's operations in progress on this thread.
struct BusyScope {
  int& depth;
  explicit BusyScope(int& d) : depth(d) { ++depth; }
  ~BusyScope() { --depth; }
};

constexpr LONG_PTR kDockRemovedStyles = 0x01CC0000;  // caption, sysmenu, thick frame, maximise
constexpr LONG_PTR kFrameStyles = 0x00CC0000;        // caption, sysmenu, thick frame
// A window that will not leave the minimised or maximised state must not
// hold docking for ever.
constexpr int kRestoreAttempts = 3;

UINT_PTR UndockTimerId(HWND window) { return reinterpret_cast<UINT_PTR>(window); }

bool Windows8() { return Os().flags.windows8_or_later; }
bool Windows10Build17763() { return Os().flags.windows10_or_later && Os().BuildAtLeast(17763); }

void Cloak(HWND window, bool cloak) {
  const BOOL value = cloak ? TRUE : FALSE;
  Api().DwmSetWindowAttribute(window, DWMWA_CLOAK, &value, sizeof(value));
}

// ShowOwnedPopups asks each owned popup's thread to show or hide itself; a
// hung thread would hold us, so its popups stay as they are.
void ShowPopupsOf(HWND window, bool show) {
  if (window != nullptr && IsWindow(window) && !IsHungAppWindow(window)) {
    ShowOwnedPopups(window, show ? TRUE : FALSE);
  }
}

// Sheets move between the strip and the desktop. Joining the strip, a sheet
// becomes WS_CHILD before SetParent; leaving it, WS_POPUP only after
// SetParent. In the other order the system takes the moving sheet for a
// top-level window and activates it, which takes the keyboard focus from the
// docked window that has it and waits for that window's thread: a hung
// Explorer window would freeze the container.
void SetSheetStyle(HWND sheet, bool child) {
  const LONG_PTR style = GetWindowLongPtrW(sheet, GWL_STYLE);
  const LONG_PTR wanted = child ? (style & ~WS_POPUP) | WS_CHILD : (style & ~WS_CHILD) | WS_POPUP;
  if (wanted != style) SetWindowLongPtrW(sheet, GWL_STYLE, wanted);
}

// SetParent for a window of another process (docking it into a sheet, giving
// it back to the desktop). It carries WS_CHILD for the move only: SetParent
// activates a window without it, which takes the keyboard focus from the
// docked window that has it and waits for that window's thread, hung or
// not. WS_CHILD goes again at once: a docked window is activated like a
// top-level one, and a released one is top-level.
void MoveForeignWindow(HWND window, HWND parent) {
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE, style | WS_CHILD);
  SetParent(window, parent);
  SetWindowLongPtrW(window, GWL_STYLE, style & ~WS_CHILD);
}

// The window lies at `rect`, in the client coordinates of `parent` (the
// screen for null).
bool LiesAt(HWND window, HWND parent, const RECT& rect) {
  RECT now{};
  if (!GetWindowRect(window, &now)) return false;
  if (parent != nullptr && parent != GetDesktopWindow()) {
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&now), 2);
  }
  return EqualRect(&now, &rect) != FALSE;
}

// A short look whether a docked window's thread takes messages now; one the
// system already counts as hung is not asked at all.
bool Answers(HWND window) {
  constexpr UINT kProbeMs = 50;
  return window != nullptr && !IsHungAppWindow(window) &&
         SendBounded(window, WM_NULL, 0, 0, kProbeMs).has_value();
}

// The window (or a child of it) has the keyboard focus of the foreground
// thread.
bool HoldsKeyboard(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (GetGUIThreadInfo(0, &info) && info.hwndFocus != nullptr) {
    return info.hwndFocus == window || IsChild(window, info.hwndFocus);
  }
  return GetForegroundWindow() == window;
}

// SendMessageCallbackW's answer: the container learns it from its queue.
void CALLBACK WindowAnsweredCallback(HWND window, UINT, ULONG_PTR container, LRESULT) {
  PostMessageW(reinterpret_cast<HWND>(container), kWindowAnsweredMessage,
               reinterpret_cast<WPARAM>(window), 0);
}

std::wstring ClassNameOf(HWND window) {
  wchar_t name[256] = {};
  const int n = GetClassNameW(window, name, 256);
  return std::wstring(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Top-left of the work area of the monitor `window` is on.
POINT WorkAreaOrigin(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info)) {
    return {info.rcWork.left, info.rcWork.top};
  }
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return {work.left, work.top};
}

// Height of Explorer's own title area at the top of a docked window, which
// the sheet clips away; 0 when the window has none.
int ExplorerTitleAreaHeight(HWND window) {
  RECT window_rect{};
  if (!GetWindowRect(window, &window_rect)) return 0;
  RECT child{};
  const auto& flags = Os().flags;
  if (flags.windows11_22621) {
    HWND bar = FindWindowExW(window, nullptr, L"TITLE_BAR_SCAFFOLDING_WINDOW_CLASS", nullptr);
    if (bar == nullptr || !GetWindowRect(bar, &child)) return 0;
    const int dpi = MonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
    return child.bottom - window_rect.top + MulDiv(5, dpi, SystemDpi());
  }
  HWND bar =
      flags.windows11
          ? FindWindowExW(window, nullptr, L"Windows.UI.Composition.DesktopWindowContentBridge",
                          L"DesktopWindowXamlSource")
          : FindWindowExW(window, nullptr, L"UIRibbonCommandBarDock", L"UIRibbonDockTop");
  if (bar == nullptr || !GetWindowRect(bar, &child)) return 0;
  return child.top - window_rect.top;
}

}  // namespace

bool ForeignForegroundAnswers() {
  HWND foreground = GetForegroundWindow();
  DWORD process_id = 0;
  if (foreground == nullptr || GetWindowThreadProcessId(foreground, &process_id) == 0 ||
      process_id == GetCurrentProcessId()) {
    return true;
  }
  return SendBounded(foreground, WM_NULL, 0, 0).has_value();
}

WndInfo::WndInfo() = default;
WndInfo::~WndInfo() = default;

ContainerWindow::ContainerWindow(MainWindow& main) : main_(main) {}

ContainerWindow::~ContainerWindow() {
  // Destroyed with windows still inside only when the program goes without
  // undocking: they keep nothing of ours.
  for (const auto& record : records_) {
    if (record->window != nullptr && IsWindow(record->window)) GiveBack(*record);
  }
  strip_.reset();
  records_.clear();
  if (big_icon_ != nullptr) DestroyIcon(big_icon_);
}

bool ContainerWindow::Create(int left, int top, int width, int height) {
  WNDCLASSEXW wc{};
  wc.lpszClassName = names::kContainerWindowClass;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.style = CS_DBLCLKS;
  if (!RegisterWindowClass(wc)) return false;
  const bool placed = left != -32000 && top != -32000;
  // Top-level and unowned: each container has its own taskbar presence.
  if (CreateBound(0, names::kContainerWindowClass, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                  placed ? left : CW_USEDEFAULT, placed ? top : CW_USEDEFAULT,
                  placed ? width : CW_USEDEFAULT, placed ? height : CW_USEDEFAULT, nullptr,
                  nullptr) == nullptr) {
    return false;
  }
  TabStripOptions options;
  options.right_to_left = ShellIsRightToLeft();
  options.windows10_or_later = Os().flags.windows10_or_later;
  strip_ = TabStrip::Create(hwnd(), this, options);
  if (strip_ == nullptr) {
    DestroyWindow(hwnd());
    return false;
  }
  RECT client{};
  GetClientRect(hwnd(), &client);
  MoveWindow(strip_->hwnd(), 0, 0, client.right, client.bottom, FALSE);
  ShowWindow(strip_->hwnd(), SW_SHOWNA);
  RefreshLook();
  caption_height_ =
      MulDiv(GetSystemMetrics(SM_CYCAPTION), TabStrip::MonitorDpi(hwnd()), TabStrip::SystemDpi());
  return true;
}

// ---------------------------------------------------------------------------
// Look-ups

WndInfo* ContainerWindow::Record(int index) const {
  if (strip_ == nullptr) return nullptr;
  return static_cast<WndInfo*>(strip_->Data(index));
}

int ContainerWindow::Find(HWND window) const {
  if (window == nullptr || strip_ == nullptr) return -1;
  for (int i = 0; i < strip_->Count(); ++i) {
    const WndInfo* r = Record(i);
    if (r != nullptr && !r->closing && r->window == window) return i;
  }
  return -1;
}

int ContainerWindow::FindClosing(HWND window) const {
  if (window == nullptr || strip_ == nullptr) return -1;
  for (int i = 0; i < strip_->Count(); ++i) {
    const WndInfo* r = Record(i);
    if (r != nullptr && r->closing && r->window == window) return i;
  }
  return -1;
}

std::size_t ContainerWindow::WindowCount() const {
  return strip_ != nullptr ? static_cast<std::size_t>(strip_->Count()) : 0;
}

int ContainerWindow::ActiveIndex() const { return strip_ != nullptr ? strip_->ActiveIndex() : -1; }

HWND ContainerWindow::WindowAt(int index) const {
  const WndInfo* r = Record(index);
  return r != nullptr ? r->window : nullptr;
}

HWND ContainerWindow::ActiveWindow() const { return WindowAt(ActiveIndex()); }

const DockLocks* ContainerWindow::LocksOf(HWND window) const {
  const int i = Find(window);
  return i >= 0 ? &Record(i)->locks : nullptr;
}

// ---------------------------------------------------------------------------
// Docking

void ContainerWindow::DockWindow(HWND window, DockLock lock) {
  if (window == nullptr || hwnd() == nullptr || strip_ == nullptr || closing_) return;
  BusyScope busy(busy_depth_);
  // A pending deferred undock of the same window is cancelled.
  KillTimer(hwnd(), UndockTimerId(window));
  const int count_before = strip_->Count();
  int index = Find(window);
  if (index < 0) {
    // Docking waits for the window's thread at every step (hiding it, its
    // styles, the re-parenting): a window that does not answer now is asked
    // again a little later instead of holding the container meanwhile.
    if (!SendBounded(window, WM_NULL, 0, 0)) {
      DeferDock(window, lock);
      return;
    }
    auto record = std::make_unique<WndInfo>();
    record->window = window;
    record->container = this;
    record->sheet = TabSheet::Create(strip_->hwnd());
    if (record->sheet == nullptr) return;
    index = strip_->Add(L"", nullptr, record.get(), true);
    if (index < 0) return;
    WndInfo& r = *record;
    records_.push_back(std::move(record));

    ShowWindow(window, SW_HIDE);
    // Read first: across processes the setters do not report the old value.
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, style & ~kDockRemovedStyles);
    const LONG_PTR ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
    SetWindowLongPtrW(window, GWL_EXSTYLE, ex_style | WS_EX_TOOLWINDOW);
    // Queued to the window's thread, like all positioning of a window of
    // another process: the frame change makes it lay itself out again,
    // which the container need not wait for.
    PositionForeignWindow(window, HWND_TOPMOST, 0, 0, 0, 0,
                          SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    // From now on Explorer cannot give itself a frame back.
    SendIpc(window, IpcCommand::FilterFrameStyles, 1);
    if (Windows8()) SendBounded(window, WM_ACTIVATE, WA_ACTIVE, 0);
    // The new sheet is a hidden child of the strip, and the window, hidden
    // too, goes into it there. Nothing of either can appear before showing
    // the tabs places the sheet and shows it, so it need not be parked on
    // the desktop first and fetched back: that round trip cost two
    // re-parentings of a window tree of another process per dock.
    MoveForeignWindow(window, r.sheet->hwnd());
    SetPropW(window, names::kPropContainerWnd, hwnd());
    SetPropW(window, names::kPropMainWnd, main_.hwnd());
    SendIpc(window, IpcCommand::UnblockVisibility, 0);
    for (int attempt = 0; attempt < kRestoreAttempts && (IsIconic(window) || IsZoomed(window));
         ++attempt) {
      SendBounded(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
    if (main_.take_next_window_rect) {
      // The first window of the program (or of a new-container command)
      // gives its container its own size and place.
      main_.take_next_window_rect = false;
      RECT rect{};
      if (GetWindowRect(window, &rect)) {
        // SetParent kept the window's coordinates, now relative to its
        // sheet: they are the screen place it had (and, restored, would have).
        MapWindowPoints(HWND_DESKTOP, r.sheet->hwnd(), reinterpret_cast<POINT*>(&rect), 2);
        if (rect.left > rect.right) std::swap(rect.left, rect.right);
        SetWindowPos(hwnd(), nullptr, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
    }
    RequestRelayout();
    WindowCaptionChanged(window);
    if (IsIconic(hwnd())) ShowWindow(hwnd(), SW_RESTORE);
    ActivateContainer();
  }
  WndInfo& record = *Record(index);
  record.locks.Add(lock);
  record.locks.Remove(DockLock::UndockingTimer);

  if (count_before == 0 && strip_->Count() == 1) {
    // A new container is shown only once its first window is inside.
    SetTimer(hwnd(), kFirstNCRedrawTimer, 1, nullptr);
  } else {
    PostMessageW(hwnd(), WM_NCACTIVATE, TRUE, 0);
  }
  TabsChanged();
  if (Windows8()) PostMessageW(hwnd(), names::WM_TC_UPDATETASKBARTABORDER, 0, 0);
  BringForward(window);
  main_.container_to_keep_active = nullptr;
}

void ContainerWindow::DeferDock(HWND window, DockLock lock) {
  auto it = std::find_if(pending_docks_.begin(), pending_docks_.end(),
                         [&](const PendingDock& p) { return p.window == window; });
  if (it == pending_docks_.end()) {
    pending_docks_.push_back({window, lock, 0});
  } else {
    it->lock = lock;
  }
  SetTimer(hwnd(), kDockRetryTimer, kDockRetryMs, nullptr);
}

void ContainerWindow::RetryPendingDocks() {
  KillTimer(hwnd(), kDockRetryTimer);
  std::vector<PendingDock> due;
  due.swap(pending_docks_);
  for (PendingDock& p : due) {
    if (!IsWindow(p.window) || Find(p.window) >= 0) continue;
    if (++p.attempts > kDockRetries) continue;  // stays a window of its own
    // Deferred once more when it still does not answer; the count goes on.
    DockWindow(p.window, p.lock);
    if (hwnd() == nullptr || closing_) return;
    for (PendingDock& again : pending_docks_) {
      if (again.window == p.window) again.attempts = p.attempts;
    }
  }
  if (!pending_docks_.empty()) {
    SetTimer(hwnd(), kDockRetryTimer, kDockRetryMs, nullptr);
  } else {
    CloseIfNothingCame();
  }
}

void ContainerWindow::AwaitFirstWindow() {
  if (hwnd() != nullptr) SetTimer(hwnd(), kFirstWindowTimer, kFirstWindowWaitMs, nullptr);
}

void ContainerWindow::CloseIfNothingCame() {
  if (hwnd() == nullptr || strip_ == nullptr || strip_->Count() > 0 || !pending_docks_.empty()) {
    return;
  }
  // Made for windows that never came: it must not stay, unseen, for ever,
  // nor leave its claim on the next window's rectangle to a window that
  // docks into another container later.
  main_.take_next_window_rect = false;
  CloseContainer();
}

void ContainerWindow::UndockWindow(HWND window, DockLock lock) {
  // A window still waiting to be docked is simply not docked.
  std::erase_if(pending_docks_, [&](const PendingDock& p) { return p.window == window; });
  const int index = Find(window);
  if (index < 0 || hwnd() == nullptr) return;
  KillTimer(hwnd(), UndockTimerId(window));
  WndInfo& record = *Record(index);
  if (!record.locks.Remove(lock).Empty()) return;
  if (lock != DockLock::UndockingTimer) {
    // The window may come straight back (Explorer re-creates its action on
    // navigation): give it back only if no dock request arrives meanwhile.
    record.locks.Add(DockLock::UndockingTimer);
    SetTimer(hwnd(), UndockTimerId(window), kUndockDelayMs, nullptr);
    return;
  }
  Release(index);
}

void ContainerWindow::UndockAllWindows() {
  if (strip_ == nullptr || strip_->Count() == 0) return;
  // The cascade starts from the normal rectangle.
  if (IsIconic(hwnd()) || IsZoomed(hwnd())) SendMessageW(hwnd(), WM_SYSCOMMAND, SC_RESTORE, 0);
  for (int i = strip_->Count() - 1; i >= 0; --i) {
    if (hwnd() == nullptr || strip_ == nullptr || i >= strip_->Count()) continue;
    WndInfo* r = Record(i);
    KillTimer(hwnd(), UndockTimerId(r->window));
    r->locks.Clear();
    Release(i);
  }
}

void ContainerWindow::MoveWindowToOtherContainer(HWND window, ContainerWindow& target) {
  const int index = Find(window);
  if (index < 0 || &target == this) return;
  DockLocks locks = Record(index)->locks;
  // A pending undock runs on our timer, which goes with our tab: the window
  // starts over in the target, where the move's own undock below schedules
  // the release again if nothing else holds it.
  locks.Remove(DockLock::UndockingTimer);
  // The target's dock re-parents the window into its own sheet first, so
  // removing our tab afterwards destroys an empty sheet.
  target.DockWindow(window, DockLock::DragAndDrop);
  const int there = target.Find(window);
  // A target that cannot take it (closing, or its window gone) leaves the
  // window docked here rather than hidden and frameless on the desktop.
  if (there < 0) return;
  target.Record(there)->locks = locks;
  const int here = Find(window);
  if (here >= 0) {
    KillTimer(hwnd(), UndockTimerId(window));
    RemoveTab(here);
  }
  target.UndockWindow(window, DockLock::DragAndDrop);
}

void ContainerWindow::GiveBack(WndInfo& record) {
  HWND window = record.window;
  SendIpc(window, IpcCommand::FilterFrameStyles, 0);
  const LONG_PTR ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  SetWindowLongPtrW(window, GWL_EXSTYLE, ex_style & ~WS_EX_TOOLWINDOW);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  SetWindowLongPtrW(window, GWL_STYLE, style | kFrameStyles);
  MoveForeignWindow(window, nullptr);
  RemovePropW(window, names::kPropContainerWnd);
  RemovePropW(window, names::kPropMainWnd);
}

void ContainerWindow::Release(int index) {
  WndInfo* record = Record(index);
  if (record == nullptr) return;
  HWND window = record->window;
  if (IsRectEmpty(&undock_rc_)) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if ((IsIconic(hwnd()) || IsZoomed(hwnd())) && GetWindowPlacement(hwnd(), &placement)) {
      undock_rc_ = placement.rcNormalPosition;
    } else {
      GetWindowRect(hwnd(), &undock_rc_);
    }
  }
  // Successive undocks cascade, one caption height further each.
  OffsetRect(&undock_rc_, caption_height_, caption_height_);
  if (IsWindow(window) && GetAncestor(window, GA_PARENT) == record->sheet->hwnd()) {
    // Positioned in the sheet's coordinates, which SetParent keeps as screen
    // coordinates once the window is top-level again. It stays hidden until
    // its frame is back.
    SetWindowPos(window, nullptr, undock_rc_.left, undock_rc_.top,
                 undock_rc_.right - undock_rc_.left, undock_rc_.bottom - undock_rc_.top,
                 SWP_NOZORDER | SWP_HIDEWINDOW | SWP_NOACTIVATE);
    GiveBack(*record);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    // The resize bracket (IPC_ENABLEWINDOW) may have left it disabled; a
    // modal dialog of its own would have disabled it for a reason.
    if (Windows8() && !IsWindowEnabled(window) &&
        ClassNameOf(GetLastActivePopup(window)) != L"#32770") {
      EnableWindow(window, TRUE);
    }
  }
  RemoveTab(index);
  main_.container_to_keep_active = nullptr;
}

void ContainerWindow::RemoveTab(int index) {
  WndInfo* record = Record(index);
  if (record == nullptr) return;
  const HWND window = record->window;
  if (hwnd() != nullptr) KillTimer(hwnd(), UndockTimerId(window));
  strip_->Remove(index);
  auto it = std::find_if(records_.begin(), records_.end(),
                         [&](const auto& r) { return r.get() == record; });
  std::unique_ptr<WndInfo> owned;
  if (it != records_.end()) {
    owned = std::move(*it);
    records_.erase(it);
  }
  // A window still inside its sheet (the container is being torn down
  // around it) is put on the desktop first: destroying the sheet must not
  // take the other process's window with it.
  if (owned && owned->sheet && IsWindow(window) &&
      GetAncestor(window, GA_PARENT) == owned->sheet->hwnd()) {
    ShowWindow(window, SW_HIDE);
    MoveForeignWindow(window, nullptr);
  }
  owned.reset();
  if (strip_->Count() == 0) {
    // The last tab is gone: the container closes (and tells the main window).
    if (hwnd() != nullptr && !closing_) CloseContainer();
    return;
  }
  // The left neighbour becomes active, whichever tab was active; removing
  // the first tab leaves the strip's own choice, the tab that followed it.
  if (index > 0) strip_->SetActiveIndex(index - 1);
  InvalidateRect(strip_->hwnd(), nullptr, FALSE);
  TabsChanged();
  if (Windows8()) PostMessageW(hwnd(), names::WM_TC_UPDATETASKBARTABORDER, 0, 0);
}

// ---------------------------------------------------------------------------
// Showing and layout

RECT ContainerWindow::ParkedOffset(RECT area) const {
  if (Windows10Build17763()) {
    // A parked sheet lies on the container's monitor and so takes its DPI.
    const POINT origin = WorkAreaOrigin(hwnd());
    OffsetRect(&area, origin.x, origin.y);
  }
  return area;
}

void ContainerWindow::ShowTabs() {
  if (strip_ == nullptr) return;
  // The new active sheet first: the page area is never left empty while the
  // previous one goes.
  const int active = strip_->ActiveIndex();
  if (WndInfo* record = Record(active); record != nullptr && record->sheet != nullptr) {
    ShowActiveSheet(*record);
  }
  for (int i = 0; i < strip_->Count(); ++i) {
    WndInfo* record = Record(i);
    if (i != active && record != nullptr && record->sheet != nullptr) ShowInactiveSheet(*record);
  }
}

void ContainerWindow::ShowActiveSheet(WndInfo& record) {
  TabSheet& sheet = *record.sheet;
  const HWND sheet_window = sheet.hwnd();
  const bool joins = GetAncestor(sheet_window, GA_PARENT) != strip_->hwnd();
  if (joins) {
    if (Windows8()) Cloak(sheet_window, false);
    SetSheetStyle(sheet_window, true);
    SetParent(sheet_window, strip_->hwnd());
  }
  // A sheet left in the strip by a window that did not answer may lie above
  // this one.
  const bool to_top = GetWindow(sheet_window, GW_HWNDPREV) != nullptr;
  const RECT r = strip_->DisplayRect();
  if (joins || to_top || !sheet.marked_visible() || !IsWindowVisible(sheet_window) ||
      !LiesAt(sheet_window, strip_->hwnd(), r)) {
    sheet.ShowAt(r, to_top);
  }
  if (joins) ShowPopupsOf(record.window, true);
}

void ContainerWindow::ShowInactiveSheet(WndInfo& record) {
  TabSheet& sheet = *record.sheet;
  const HWND sheet_window = sheet.hwnd();
  if (GetAncestor(sheet_window, GA_PARENT) == GetDesktopWindow()) {
    if (!Windows8() && sheet.marked_visible()) sheet.SetMarkedVisible(false);
    return;
  }
  // Still in the strip. Hiding the sheet moves the keyboard focus out of the
  // docked window when it has it, and the system waits for the window's
  // thread to take that in. A window that does not answer stays where it
  // is, below the active sheet, and is parked once it answers.
  if (record.awaiting_answer) return;
  if (IsWindowVisible(sheet_window) && !Answers(record.window)) {
    SetWindowPos(sheet_window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | kSheetMoveFlags);
    AwaitAnswer(record);
    return;
  }
  RECT r{};
  GetWindowRect(sheet_window, &r);
  MapWindowPoints(HWND_DESKTOP, strip_->hwnd(), reinterpret_cast<POINT*>(&r), 2);
  r = ParkedOffset(r);
  // Hidden before it leaves the strip, so it never flashes on the desktop.
  sheet.SetMarkedVisible(false);
  SetParent(sheet_window, GetDesktopWindow());
  SetSheetStyle(sheet_window, false);
  SetWindowPos(sheet_window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | kSheetMoveFlags);
  if (Windows8()) {
    // Left visible but cloaked, it keeps rendering for taskbar previews.
    // Where cloaking has no effect it would be a bare window on the
    // desktop, so it stays hidden there.
    Cloak(sheet_window, true);
    if (IsWindowCloaked(sheet_window)) sheet.SetMarkedVisible(true);
  }
  ShowPopupsOf(record.window, false);
}

void ContainerWindow::AwaitAnswer(WndInfo& record) {
  // No polling: the system calls back once the window's thread has taken
  // the message in (or the window is gone), and the container then shows
  // the tabs again from its own queue.
  record.awaiting_answer =
      SendMessageCallbackW(record.window, WM_NULL, 0, 0, &WindowAnsweredCallback,
                           reinterpret_cast<ULONG_PTR>(hwnd())) != FALSE;
}

void ContainerWindow::OnWindowAnswered(HWND window) {
  int index = Find(window);
  if (index < 0) index = FindClosing(window);
  WndInfo* record = Record(index);
  if (record == nullptr || !record->awaiting_answer) return;
  record->awaiting_answer = false;
  // A window that hung while it had the keyboard kept it when its tab was
  // left; the tab the user chose takes it now.
  const bool kept_foreground = HoldsKeyboard(window);
  ShowTabs();
  if (kept_foreground && index != ActiveIndex()) BringForward(ActiveWindow());
}

void ContainerWindow::RequestRelayout() {
  // Docking, tab changes and size changes each ask for a layout; one pending
  // request serves them all.
  if (relayout_posted_ || hwnd() == nullptr) return;
  relayout_posted_ = PostMessageW(hwnd(), names::WM_TC_RELAYOUT, 0, 0) != FALSE;
}

void ContainerWindow::Relayout() {
  if (strip_ == nullptr || hwnd() == nullptr) return;
  BusyScope busy(busy_depth_);
  const RECT r = strip_->DisplayRect();
  WndInfo* record = Record(strip_->ActiveIndex());
  if (record != nullptr && record->sheet != nullptr) {
    const HWND sheet_window = record->sheet->hwnd();
    if (!LiesAt(sheet_window, strip_->hwnd(), r)) {
      SetWindowPos(sheet_window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | kSheetMoveFlags);
    }
    RECT client{};
    GetClientRect(sheet_window, &client);
    SizeDockedWindow(record->window, client, true, !record->awaiting_answer);
  }
  strip_->Arrange();
  // Every parked sheet takes the page area's size too, but not now: moving a
  // hidden top-level window costs the system several milliseconds, and a
  // container with a hundred tabs would stop for half a second at each size
  // change. They follow once the size stays put, a few per timer tick; a
  // parked sheet that joins the strip is given its place there anyway.
  SetTimer(hwnd(), kParkedSheetsTimer, kParkedSheetsDelayMs, nullptr);
}

void ContainerWindow::ArrangeParkedSheets() {
  KillTimer(hwnd(), kParkedSheetsTimer);
  if (strip_ == nullptr || IsIconic(hwnd())) return;
  const RECT parked = ParkedOffset(strip_->DisplayRect());
  const int active = strip_->ActiveIndex();
  int moved = 0;
  for (int i = 0; i < strip_->Count() && moved < kParkedSheetsPerBatch; ++i) {
    WndInfo* record = Record(i);
    // A sheet waiting for its window to answer is left alone until it is
    // parked.
    if (i == active || record == nullptr || record->sheet == nullptr || record->awaiting_answer) {
      continue;
    }
    const HWND sheet_window = record->sheet->hwnd();
    if (!LiesAt(sheet_window, nullptr, parked)) {
      SetWindowPos(sheet_window, nullptr, parked.left, parked.top, parked.right - parked.left,
                   parked.bottom - parked.top, SWP_NOZORDER | kSheetMoveFlags);
      ++moved;
    }
    if (Windows8()) {
      RECT client{};
      GetClientRect(sheet_window, &client);
      if (SizeDockedWindow(record->window, client, false)) ++moved;
    }
  }
  if (moved == kParkedSheetsPerBatch) {
    SetTimer(hwnd(), kParkedSheetsTimer, kParkedSheetsNextBatchMs, nullptr);
  }
}

bool ContainerWindow::SizeDockedWindow(HWND window, RECT area, bool show, bool answers) {
  if (window == nullptr || !IsWindow(window)) return false;
  // The client area fills the sheet; the frame that is left lies outside.
  AdjustWindowRectEx(&area, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  if (DwmCompositionEnabled()) area.top -= ExplorerTitleAreaHeight(window);
  // Already there (and shown when asked): nothing for the window's thread to do.
  if ((!show || (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0) &&
      LiesAt(window, GetAncestor(window, GA_PARENT), area)) {
    return false;
  }
  // The resize bracket is a send; a window that does not answer is only
  // positioned, which is queued to its thread.
  const bool bracket = Windows8() && answers;
  if (bracket) SendIpc(window, IpcCommand::EnableWindow, 0);
  PositionForeignWindow(window, nullptr, area.left, area.top, area.right - area.left,
                        area.bottom - area.top,
                        SWP_NOCOPYBITS | SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOZORDER |
                            (show ? SWP_SHOWWINDOW : 0));
  if (bracket) NotifyIpc(window, IpcCommand::EnableWindow, 1);
  return true;
}

void ContainerWindow::TabsChanged() {
  ShowTabs();
  RequestRelayout();
  UpdateContainerCaption();
}

// ---------------------------------------------------------------------------
// Captions and icons

void ContainerWindow::WindowCaptionChanged(HWND window) {
  const int index = Find(window);
  if (index < 0) return;
  strip_->SetIcon(index, CopyWindowIcon(window));
  strip_->SetCaption(index, ReadWindowCaption(window));
  if (auto r = strip_->TabRect(index)) InvalidateRect(strip_->hwnd(), &*r, FALSE);
  if (index == strip_->ActiveIndex()) UpdateContainerCaption();
}

void ContainerWindow::UpdateContainerCaption() {
  const int active = ActiveIndex();
  if (active < 0 || hwnd() == nullptr) return;
  // Each tab change and caption notice comes here: the window text, the
  // icon copy and WM_SETICON (which repaint the frame and the taskbar
  // button) only when something changed.
  std::wstring caption = strip_->Caption(active) + kContainerCaptionSuffix;
  if (caption != caption_) {
    SetWindowTextW(hwnd(), caption.c_str());
    caption_ = std::move(caption);
  }
  const WndInfo* record = Record(active);
  // A window that did not answer lately is not asked again now.
  if (record == nullptr || record->awaiting_answer) return;
  const HICON source = BigIconSource(record->window);
  if (big_icon_ != nullptr && source == big_icon_source_) return;
  HICON icon = source != nullptr ? CopyIcon(source) : nullptr;
  if (icon == nullptr) icon = CopyWindowIcon(nullptr, true);  // the system's logo
  if (icon != nullptr) {
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (big_icon_ != nullptr) DestroyIcon(big_icon_);
    big_icon_ = icon;
    big_icon_source_ = source;
  }
}

std::wstring ContainerWindow::TooltipText(int tab) { return ReadWindowCaption(WindowAt(tab)); }

// ---------------------------------------------------------------------------
// Activation

void ContainerWindow::BringForward(HWND window) {
  main_.ActivateWindowByTimer(nullptr);
  for (int attempt = 0; attempt < 6; ++attempt) {
    HWND popup = GetLastActivePopup(window);
    if (popup == nullptr || !IsWindow(popup) || GetForegroundWindow() == popup) return;
    // Activation waits for the window's thread; one that does not answer
    // within the bound is left where it is.
    if (!SendBounded(popup, WM_NULL, 0, 0)) return;
    // So does giving up the foreground: a hung window that holds it keeps it.
    if (!ForeignForegroundAnswers()) return;
    main_.activating_window = true;
    const BOOL done = SetForegroundWindow(popup);
    main_.activating_window = false;
    if (done) {
      // The system's notice names a top-level window; for a docked child it
      // names our container, and waiting for the child's would hold the
      // foreground tracking.
      if (GetAncestor(popup, GA_ROOT) == popup) main_.ExpectForegroundNotice(popup);
      return;
    }
    Sleep(100);
  }
}

bool ContainerWindow::ForegroundAllowed(HWND window) {
  const auto answer =
      SendIpc(window, IpcCommand::AllowSetForeground, static_cast<LPARAM>(GetCurrentProcessId()));
  return answer.has_value() && *answer != 0;
}

void ContainerWindow::WindowActivated(HWND window) {
  const int index = Find(window);
  if (index < 0) return;
  if (index != strip_->ActiveIndex()) {
    strip_->SetActiveIndex(index);
    TabsChanged();
  }
  HWND foreground = GetForegroundWindow();
  if (IsIconic(hwnd())) ShowWindow(hwnd(), SW_RESTORE);
  if (foreground == window || GetAncestor(foreground, GA_ROOTOWNER) != window) {
    foreground = GetLastActivePopup(window);
  }
  if (foreground != nullptr && foreground != window) ShowWindow(foreground, SW_SHOW);
  ShowPopupsOf(window, true);
  if (!active_look_) {
    // The taskbar learns which button is now active.
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) {
      HWND rebar = FindWindowExW(tray, nullptr, L"ReBarWindow32", L"");
      HWND tasks =
          rebar != nullptr ? FindWindowExW(rebar, nullptr, L"MSTaskSwWClass", nullptr) : nullptr;
      if (tasks != nullptr && Names().shell_hook != 0) {
        PostMessageW(tasks, Names().shell_hook, HSHELL_WINDOWACTIVATED,
                     reinterpret_cast<LPARAM>(hwnd()));
      }
    }
  }
  if (ForegroundAllowed(window)) ActivateContainer();
  // The container shows itself active even when the docked window does not
  // let it take the foreground.
  active_look_ = true;
  if (strip_ != nullptr) strip_->SetContainerActive(true);
  main_.ActivateWindowByTimer(foreground != nullptr ? foreground : window);
}

void ContainerWindow::ActivateContainer() {
  if (active_look_) return;
  active_look_ = true;
  // A container that is not shown yet cannot take the foreground; it takes
  // it when it is shown.
  if (IsWindowVisible(hwnd())) BringWindowToForeground(hwnd());
  SendMessageW(hwnd(), names::WM_TC_CONTAINERACTIVATED, 1, 0);
  SendMessageW(hwnd(), WM_NCACTIVATE, TRUE, 0);
  if (strip_ != nullptr) strip_->SetContainerActive(true);
}

void ContainerWindow::DeactivateContainer() {
  if (!active_look_) return;
  active_look_ = false;
  SendMessageW(hwnd(), WM_NCACTIVATE, FALSE, 0);
  SendMessageW(hwnd(), names::WM_TC_CONTAINERACTIVATED, 0, 0);
  if (strip_ != nullptr) strip_->SetContainerActive(false);
}

// ---------------------------------------------------------------------------
// Tabs: selection, closing, new tabs

void ContainerWindow::SelectTab(int index) {
  if (strip_ == nullptr || index < 0 || index >= strip_->Count()) return;
  if (index != strip_->ActiveIndex()) {
    strip_->SetActiveIndex(index);
    InvalidateRect(strip_->hwnd(), nullptr, FALSE);
    TabsChanged();
  }
  BringForward(WindowAt(index));
}

void ContainerWindow::CloseTab(int index) {
  WndInfo* record = Record(index);
  if (record == nullptr) return;
  if (!IsWindow(record->window)) {
    RemoveTab(index);
    return;
  }
  // A dialog of its own is open: the user closes that first.
  if (GetLastActivePopup(record->window) != record->window) return;
  main_.container_to_keep_active = hwnd();
  record->closing = true;
  PostMessageW(record->window, WM_CLOSE, 0, 0);
}

void ContainerWindow::WindowClosed(HWND window) {
  int index = Find(window);
  if (index < 0) index = FindClosing(window);
  if (index < 0) return;
  const int active = strip_->ActiveIndex();
  const HWND active_window = ActiveWindow();
  RemoveTab(index);
  if (hwnd() == nullptr || strip_ == nullptr || strip_->Count() == 0) return;
  if (index != active) {
    BringForward(active_window);
  } else {
    BringForward(ActiveWindow());
  }
}

void ContainerWindow::ExecuteTabCommand(std::uint16_t command) {
  BusyScope busy(busy_depth_);
  const TabCommandAction action =
      ResolveTabCommand(command, static_cast<int>(WindowCount()), ActiveIndex());
  switch (action.kind) {
    case TabCommandAction::Kind::Select:
      SelectTab(action.index);
      break;
    case TabCommandAction::Kind::CloseActive:
      CloseTab(ActiveIndex());
      break;
    case TabCommandAction::Kind::NewTab:
      NewTab(false);
      break;
    case TabCommandAction::Kind::NewContainer:
      NewTab(true);
      break;
    case TabCommandAction::Kind::FocusWindow:
      BringForward(ActiveWindow());
      break;
    case TabCommandAction::Kind::None:
      break;
  }
}

void ContainerWindow::NewTab(bool new_container) {
  ContainerWindow* target = this;
  if (new_container) {
    target = main_.CreateNewContainer(-32000, -32000, 0, 0);
    if (target == nullptr) return;
    main_.take_next_window_rect = true;
    target->AwaitFirstWindow();
  }
  // Explorer opens the window; the hook library asks to dock it and the main
  // window gives it to this container.
  main_.SetContainerForNextDockWindow(target);
  main_.OpenNewFolderWindow();
}

void ContainerWindow::CloseContainer() {
  if (hwnd() == nullptr) return;
  closing_ = true;
  ShowWindow(hwnd(), SW_HIDE);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  const bool have_placement = GetWindowPlacement(hwnd(), &placement) != FALSE;
  const int active = strip_ != nullptr ? strip_->ActiveIndex() : -1;
  // Every other window closes as it is.
  for (int i = strip_ != nullptr ? strip_->Count() - 1 : -1; i >= 0; --i) {
    if (i == active) continue;
    WndInfo* r = Record(i);
    KillTimer(hwnd(), UndockTimerId(r->window));
    if (IsWindow(r->window)) {
      RemovePropW(r->window, names::kPropContainerWnd);
      RemovePropW(r->window, names::kPropMainWnd);
      PostMessageW(r->window, WM_CLOSE, 0, 0);
    }
  }
  // The last active folder window takes the container's place and size, so
  // Explorer remembers them for its next window.
  if (WndInfo* r = Record(active)) {
    HWND window = r->window;
    KillTimer(hwnd(), UndockTimerId(window));
    if (IsWindow(window)) {
      ShowWindow(window, SW_HIDE);
      GiveBack(*r);
      SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
      if (have_placement) {
        WINDOWPLACEMENT own = placement;
        own.showCmd = SW_HIDE;  // it closes next; it must not flash
        SetWindowPlacement(window, &own);
      }
      SendBounded(window, WM_EXITSIZEMOVE, 0, 0);
      PostMessageW(window, WM_CLOSE, 0, 0);
    }
  }
  // The windows still parked in sheets are taken out before the sheets go.
  while (strip_ != nullptr && strip_->Count() > 0) RemoveTab(strip_->Count() - 1);
  DestroyWindow(hwnd());
}

// ---------------------------------------------------------------------------
// Strip events

bool ContainerWindow::OnTabChanging(int current) {
  previous_active_index_ = current;
  return true;
}

void ContainerWindow::OnTabChanged(int active, int previous) {
  if (auto r = strip_->TabRect(active)) InvalidateRect(strip_->hwnd(), &*r, FALSE);
  if (auto r = strip_->TabRect(previous)) InvalidateRect(strip_->hwnd(), &*r, FALSE);
  TabsChanged();
  if (mouse_is_down_) {
    mouse_is_down_ = false;
    BringForward(WindowAt(active));
  }
}

void ContainerWindow::OnTabMouseDown(int tab, POINT pt) {
  mouse_is_down_ = tab >= 0;
  mouse_down_pt_ = pt;
}

void ContainerWindow::OnCloseClicked(int tab) {
  mouse_is_down_ = false;
  CloseTab(tab);
}

void ContainerWindow::OnMiddleClicked(int tab) { CloseTab(tab); }

void ContainerWindow::OnAddClicked() { NewTab(false); }

void ContainerWindow::OnMouseLeave() { mouse_is_down_ = false; }

void ContainerWindow::OnResized() { RequestRelayout(); }

// ---------------------------------------------------------------------------

void ContainerWindow::RefreshLook() {
  if (strip_ == nullptr || hwnd() == nullptr) return;
  theme_.Refresh(hwnd(), active_look_);
  strip_->SetDarkTheme(theme_.dark());
}

std::vector<HWND> ContainerWindow::DockedWindows() const {
  std::vector<HWND> windows;
  for (int i = 0; i < static_cast<int>(WindowCount()); ++i) {
    if (HWND window = WindowAt(i)) windows.push_back(window);
  }
  return windows;
}

void ContainerWindow::OnForwardKey(HWND window, LPARAM lparam) {
  if (ForegroundAllowed(window)) {
    activated_by_mouse_ = true;
    if (SetForegroundWindow(hwnd())) main_.ExpectForegroundNotice(hwnd());
    if (LOWORD(lparam) == WM_KEYDOWN) SetTimer(hwnd(), kActivateAfterAeroSnapTimer, 100, nullptr);
  }
  // The system applies Alt+Space, Alt+Esc and the snap keys to the
  // container, not to the docked child.
  keybd_event(static_cast<BYTE>((lparam >> 16) & 0xFF), 0, 0, 0);
}

LRESULT ContainerWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case names::WM_TC_GETACTIVEWINDOW:
      return reinterpret_cast<LRESULT>(ActiveWindow());
    case names::WM_TC_RELAYOUT:
      relayout_posted_ = false;
      Relayout();
      return 0;
    case kWindowAnsweredMessage:
      OnWindowAnswered(reinterpret_cast<HWND>(wparam));
      return 0;
    case kExecuteTabCommandMessage:
      ExecuteTabCommand(static_cast<std::uint16_t>(wparam));
      return 0;
    case names::WM_TC_RESETMOUSEACTIVATION:
      activated_by_mouse_ = false;
      return 0;
    case names::WM_TC_FORWARDKEY:
      OnForwardKey(reinterpret_cast<HWND>(wparam), lparam);
      return 0;
    case names::WM_TC_CANCELACTIVATEWINDOW:
      main_.ActivateWindowByTimer(nullptr);
      return 0;
    case WM_COMMAND:
      if (const std::uint16_t command = TabCommandFromWParam(wparam)) {
        // Explorer's thread that translated the key must never wait for
        // tab operations.
        if (InSendMessage()) ReplyMessage(0);
        // Run from our own queue: a command sent while the container waits
        // in a call into a docked window would otherwise run in the middle
        // of the tab change that made the call.
        if (busy_depth_ > 0) {
          PostMessageW(hwnd(), kExecuteTabCommandMessage, command, 0);
        } else {
          ExecuteTabCommand(command);
        }
        return 0;
      }
      break;
    case WM_WINDOWPOSCHANGING: {
      // The system erases the container's children at once when the
      // container changes size (before WM_WINDOWPOSCHANGED), the active
      // docked window among them, which waits for its thread. The strip
      // (and with it the docked window) is passed by meanwhile and paints
      // from the queues after.
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lparam);
      if (strip_ != nullptr && !strip_redraw_off_ &&
          ((pos->flags & SWP_NOSIZE) == 0 || (pos->flags & SWP_FRAMECHANGED) != 0)) {
        strip_redraw_off_ = true;
        strip_->SetRedraw(false);
        PostMessageW(hwnd(), kStripRedrawMessage, 0, 0);
      }
      break;
    }
    case WM_WINDOWPOSCHANGED:
    case kStripRedrawMessage:
      if (strip_ != nullptr && strip_redraw_off_) {
        strip_redraw_off_ = false;
        strip_->SetRedraw(true);
      }
      if (message == kStripRedrawMessage) return 0;
      break;
    case WM_SIZE:
      if (strip_ != nullptr) {
        // The strip holds the active sheet: erasing is deferred as for
        // the sheets (tab_sheet.h).
        SetWindowPos(strip_->hwnd(), nullptr, 0, 0, LOWORD(lparam), HIWORD(lparam),
                     SWP_NOZORDER | kSheetMoveFlags);
      }
      RequestRelayout();
      break;
    case WM_TIMER:
      if (wparam == kFirstWindowTimer) {
        KillTimer(hwnd(), kFirstWindowTimer);
        CloseIfNothingCame();
        return 0;
      }
      if (wparam == kDockRetryTimer) {
        RetryPendingDocks();
        return 0;
      }
      if (wparam == kColorSetTimer) {
        KillTimer(hwnd(), kColorSetTimer);
        ForwardSettingChange(DockedWindows(), 0, reinterpret_cast<LPARAM>(kColorSetChange));
        // Erased from the queues, not at once: erasing now would wait for
        // the thread of the docked window inside.
        RedrawWindow(hwnd(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
        return 0;
      }
      if (wparam == kFirstNCRedrawTimer) {
        KillTimer(hwnd(), kFirstNCRedrawTimer);
        ShowWindow(hwnd(), SW_SHOW);
        SetWindowPos(hwnd(), nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        RedrawWindow(hwnd(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
      } else if (wparam == kParkedSheetsTimer) {
        ArrangeParkedSheets();
      } else if (wparam == kActivateAfterAeroSnapTimer) {
        if (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0) return 0;
        KillTimer(hwnd(), kActivateAfterAeroSnapTimer);
        if (GetForegroundWindow() == hwnd()) BringForward(ActiveWindow());
      } else if (wparam > kLastOwnTimer) {
        KillTimer(hwnd(), wparam);
        UndockWindow(reinterpret_cast<HWND>(wparam), DockLock::UndockingTimer);
      }
      return 0;
    case WM_NCACTIVATE:
      // The frame stays active while the program moves the foreground into
      // one of its docked windows.
      if (!wparam && active_look_ && main_.activating_window) return 0;
      return DefaultHandling(message, active_look_ ? TRUE : wparam, lparam);
    case WM_ACTIVATE: {
      if (LOWORD(wparam) == WA_INACTIVE && main_.window_being_undocked != nullptr &&
          reinterpret_cast<HWND>(lparam) == main_.window_being_undocked) {
        return 0;
      }
      const LRESULT result = DefaultHandling(message, wparam, lparam);
      if (LOWORD(wparam) == WA_ACTIVE && !activated_by_mouse_ && !main_.drag_over_container &&
          WindowCount() > 0 && !IsIconic(hwnd())) {
        HWND active = ActiveWindow();
        if (active != main_.window_being_docked &&
            active != main_.foreground.last_foreground_window) {
          main_.ActivateWindowByTimer(active);
        }
      }
      if (activated_by_mouse_) PostMessageW(hwnd(), names::WM_TC_RESETMOUSEACTIVATION, 0, 0);
      return result;
    }
    case WM_MOUSEACTIVATE: {
      const LRESULT result = DefaultHandling(message, wparam, lparam);
      activated_by_mouse_ = true;
      ActivateContainer();
      return result;
    }
    case WM_SYSCOMMAND: {
      const UINT command = static_cast<UINT>(wparam & 0xFFF0);
      HWND active = ActiveWindow();
      if (command == SC_MINIMIZE) {
        if (active != nullptr) ShowPopupsOf(active, false);
        // Taking the foreground away waits for the window that has it; a
        // hung docked window keeps it and the container still minimises.
        if (active == nullptr || Answers(active)) SetForegroundWindow(GetDesktopWindow());
      } else if ((command == SC_MAXIMIZE || command == SC_RESTORE) && active != nullptr) {
        ShowPopupsOf(active, true);
        const LRESULT result = DefaultHandling(message, wparam, lparam);
        main_.ActivateWindowByTimer(active);
        return result;
      }
      break;
    }
    case 0x0313:  // the taskbar asks for the system menu
      main_.ActivateWindowByTimer(nullptr);
      break;
    case WM_SETTINGCHANGE: {
      const LRESULT result = DefaultHandling(message, wparam, lparam);
      if (strip_ != nullptr) strip_->UpdateMetrics();
      RefreshLook();
      RequestRelayout();
      // Docked windows are children now and miss the system's notices.
      if (IsColorSetChange(reinterpret_cast<const wchar_t*>(lparam))) {
        SetTimer(hwnd(), kColorSetTimer, kColorSetDelayMs, nullptr);
      } else {
        ForwardSettingChange(DockedWindows(), wparam, lparam);
      }
      return result;
    }
    case WM_CLOSE:
      CloseContainer();
      return 0;
    case WM_DESTROY:
      closing_ = true;
      theme_.Forget();
      // Windows still inside (a destroy from outside the close path) are
      // taken out before our child windows go.
      while (strip_ != nullptr && strip_->Count() > 0) {
        WndInfo* r = Record(strip_->Count() - 1);
        if (IsWindow(r->window)) GiveBack(*r);
        RemoveTab(strip_->Count() - 1);
      }
      main_.OnContainerDestroyed(this);
      return 0;
  }
  return DefaultHandling(message, wparam, lparam);
}

}  // namespace vm::container
