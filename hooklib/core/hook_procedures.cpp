#include "hooklib/core/hook_procedures.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "common/names.h"
#include "common/shared_names.h"
#include "hooklib/app/process_lists.h"
#include "hooklib/core/hook_frame.h"
#include "hooklib/core/hotkey_text.h"
#include "hooklib/core/library.h"
#include "hooklib/core/stub_pool.h"
#include "hooklib/core/thread_hooks.h"
#include "hooklib/core/window_hook.h"

namespace vm::hooklib {
namespace {

using Microsoft::WRL::ComPtr;

// ---- Optional entry points ---------------------------------------------------

using GetWindowBandFn = BOOL(WINAPI*)(HWND, DWORD*);
using GetRawInputDataFn = UINT(WINAPI*)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);
std::atomic<GetWindowBandFn> g_get_window_band{nullptr};
std::atomic<GetRawInputDataFn> g_get_raw_input_data{nullptr};
std::atomic<bool> g_bands_unsupported_by_host{false};
std::atomic<WindowBandQuery> g_band_query{nullptr};

constexpr int kBandUnknown = -1;
// Bound of every send from a hook to a window that may hang.
constexpr UINT kSendTimeoutMs = 1000;

int SystemWindowBand(HWND window) noexcept {
  if (GetWindowBandFn get = g_get_window_band.load(std::memory_order_relaxed)) {
    DWORD band = 0;
    return get(window, &band) ? static_cast<int>(band) : kBandUnknown;
  }
  // Wine reports Windows 10 but has no window bands (GetWindowBand is not
  // exported): every window there lives in the desktop band. On Windows the
  // missing entry point fails closed.
  return g_bands_unsupported_by_host.load(std::memory_order_relaxed) ? 1 : kBandUnknown;
}

int WindowBand(HWND window) noexcept {
  WindowBandQuery query = g_band_query.load(std::memory_order_relaxed);
  return query ? query(window) : SystemWindowBand(window);
}

// ---- State of the hook procedures ---------------------------------------------

std::atomic<HWND> g_console_window{nullptr};
std::atomic<bool> g_console_handed_over{false};
std::atomic<HWND> g_raw_input_window{nullptr};
std::atomic<HWND> g_container_main_window{nullptr};
SRWLOCK g_hotkey_lock = SRWLOCK_INIT;
HotkeyTracker g_hotkeys;

struct FilterSlot {
  MessageFilter filter = nullptr;
  void* user_data = nullptr;
};
SRWLOCK g_filter_lock = SRWLOCK_INIT;
FilterSlot g_filters[4];
std::atomic<int> g_filter_count{0};

// The block posted with service code 19: the message as the extender saw it
// before dispatch, and what it answered. Only blocks this process posted are
// taken back: the message can come from anywhere.
struct AfterMessageBlock {
  WindowMessage message;
  bool before_handled = false;
};
SRWLOCK g_after_lock = SRWLOCK_INIT;
std::vector<AfterMessageBlock*>* g_after_blocks = nullptr;

bool RememberAfterBlock(AfterMessageBlock* block) noexcept {
  AcquireSRWLockExclusive(&g_after_lock);
  bool ok = true;
  try {
    if (g_after_blocks == nullptr) g_after_blocks = new std::vector<AfterMessageBlock*>();
    g_after_blocks->push_back(block);
  } catch (...) {
    ok = false;
  }
  ReleaseSRWLockExclusive(&g_after_lock);
  return ok;
}

AfterMessageBlock* TakeAfterBlock(LPARAM value) noexcept {
  auto* block = reinterpret_cast<AfterMessageBlock*>(value);
  AcquireSRWLockExclusive(&g_after_lock);
  bool found = false;
  if (g_after_blocks != nullptr) {
    auto it = std::find(g_after_blocks->begin(), g_after_blocks->end(), block);
    if (it != g_after_blocks->end()) {
      g_after_blocks->erase(it);
      found = true;
    }
  }
  ReleaseSRWLockExclusive(&g_after_lock);
  return found ? block : nullptr;
}

// Stubs this library queued for release with service code 65 (the window
// that used the stub was just destroyed). The code can be posted by any
// process with any address, the address of a stub still in use included:
// only a stub listed here, and only on the thread that queued it, is freed.
struct PendingFree {
  void* stub = nullptr;
  DWORD thread_id = 0;
};
SRWLOCK g_pending_free_lock = SRWLOCK_INIT;
std::vector<PendingFree>* g_pending_frees = nullptr;

bool RememberPendingFree(void* stub) noexcept {
  AcquireSRWLockExclusive(&g_pending_free_lock);
  bool ok = true;
  try {
    if (g_pending_frees == nullptr) g_pending_frees = new std::vector<PendingFree>();
    g_pending_frees->push_back(PendingFree{stub, GetCurrentThreadId()});
  } catch (...) {
    ok = false;
  }
  ReleaseSRWLockExclusive(&g_pending_free_lock);
  return ok;
}

bool TakePendingFree(LPARAM value) noexcept {
  void* stub = reinterpret_cast<void*>(value);
  if (stub == nullptr) return false;
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&g_pending_free_lock);
  bool found = false;
  if (g_pending_frees != nullptr) {
    auto it =
        std::find_if(g_pending_frees->begin(), g_pending_frees->end(),
                     [&](const PendingFree& p) { return p.stub == stub && p.thread_id == self; });
    if (it != g_pending_frees->end()) {
      g_pending_frees->erase(it);
      found = true;
    }
  }
  ReleaseSRWLockExclusive(&g_pending_free_lock);
  return found;
}

// ---- Window tests ----------------------------------------------------------------

UINT ServiceMessage() noexcept { return Names().service; }

bool IsServiceMessage(UINT message) noexcept {
  const UINT service = ServiceMessage();
  return service != 0 && message == service;
}

std::wstring ClassNameOf(HWND window) {
  wchar_t name[257] = {};
  const int n = GetClassNameW(window, name, 257);
  return std::wstring(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool IsMdiChild(LONG_PTR style, LONG_PTR ex_style) noexcept {
  return (ex_style & WS_EX_MDICHILD) != 0 ||
         ((style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION && !(style & WS_POPUP));
}

bool IsMessageOnly(HWND window) noexcept {
  return window != nullptr && WindowHasClass(GetAncestor(window, GA_PARENT), ClassAtom::Message);
}

bool IsSiblingWindow(HWND window) noexcept {
  return WindowHasClass(window, ClassAtom::SiblingFloatingWindow) ||
         WindowHasClass(window, ClassAtom::SiblingToggleWindow);
}

bool IsUtilityWindow(HWND window) noexcept {
  return WindowHasClass(window, ClassAtom::UtilWindowA) ||
         WindowHasClass(window, ClassAtom::UtilWindowW);
}

bool IsExplorerFrame(HWND window) noexcept {
  return WindowHasClass(window, ClassAtom::Cabinet) || WindowHasClass(window, ClassAtom::Explore);
}

bool IsWindowOfThisThread(HWND window) noexcept {
  return window != nullptr && IsWindow(window) &&
         GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

// A send from a hook path: the window may belong to another thread, which
// may hang; the host's thread must not hang with it. Answers 0 when the send
// failed or timed out.
LRESULT BoundedSend(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

bool HasIgnoredClass(HWND window) { return IsIgnoredWindowClass(ClassNameOf(window)); }

bool HasAtomProp(HWND window, ATOM atom) noexcept {
  return atom != 0 && GetPropW(window, MAKEINTATOM(atom)) != nullptr;
}

bool IsMessengerThread() noexcept {
  ComPtr<MessengerHooks> messenger = GetMessenger();
  if (!messenger) return false;
  const DWORD self = GetCurrentThreadId();
  return self == messenger->GetClientThreadId() || self == messenger->GetServerThreadId();
}

// While the application is unloading, a new control program may have come:
// the messenger restarts and the application comes back.
void ReloadCheck() noexcept {
  ComPtr<ApplicationHooks> app = GetApplication();
  if (!app || !app->IsUnloading()) return;
  ComPtr<MessengerHooks> messenger = GetMessenger();
  if (!messenger || !messenger->NeedRestart()) return;
  messenger->Restart();
  if (messenger->GetState() != -1) {
    app->OnReloading();
    SetThreadDetachCallbackEnabled(true);
  }
}

ComPtr<ExtenderHooks> ExtenderOf(ProcessHook* hook, HWND window) noexcept {
  return hook != nullptr && window != nullptr ? hook->GetWindowExtender(window) : nullptr;
}

// The extender of a window that is extended without subclassing: its
// messages reach the extender from the hooks.
ComPtr<ExtenderHooks> NoninvasiveExtenderOf(ProcessHook* hook, HWND window) noexcept {
  // The extender lookup is in-process; the property lookup is not always,
  // so it only runs for windows that have an extender at all.
  ComPtr<ExtenderHooks> extender = ExtenderOf(hook, window);
  if (extender && HasAtomProp(window, Names().noninvasive)) return extender;
  return nullptr;
}

// The container program's main window for WinEvent notices about a folder window.
HWND ContainerMainWindowFor(HWND window) noexcept {
  HWND main = static_cast<HWND>(GetPropW(window, names::kPropMainWnd));
  if (main != nullptr && IsWindow(main)) return main;
  HWND cached = g_container_main_window.load();
  if (cached == nullptr || !IsWindow(cached)) {
    cached = FindWindowW(names::kMainWindowClass, nullptr);
    g_container_main_window.store(cached);
  }
  return cached;
}

void PostToContainer(HWND window, DWORD event) noexcept {
  HWND main = ContainerMainWindowFor(window);
  if (main != nullptr) {
    PostMessageW(main, Names().win_event, event, reinterpret_cast<LPARAM>(window));
  }
}

// ---- Message hook parts --------------------------------------------------------------

// Step 1: the library's own service messages. True when one was carried out
// (the message is then cleared and not passed on).
bool HandleServiceMessage(MSG& msg) {
  ComPtr<ProcessHook> hook;
  switch (msg.wParam) {
    case service::kSetCapture:
      // Any process can post this: only a window of this thread may take
      // the capture here.
      if (IsWindowOfThisThread(reinterpret_cast<HWND>(msg.lParam))) {
        SetCapture(reinterpret_cast<HWND>(msg.lParam));
      }
      return true;
    case service::kReleaseCapture:
      ReleaseCapture();
      return true;
    case service::kFreeStub:
      // Consumed either way; freed only when this library queued it here.
      if (TakePendingFree(msg.lParam))
        StubPool::Instance().FreeStub(reinterpret_cast<void*>(msg.lParam));
      return true;
    case service::kCaptionChanged:
      hook = GetProcessHook();
      if (!hook || !hook->IsActive()) return false;
      hook->OnCaptionChanged(msg.hwnd, ServiceMessage(), 0);
      return true;
    case service::kRecheck:
      hook = GetProcessHook();
      if (!hook || !hook->IsActive()) return false;
      hook->RecheckWindow(msg.hwnd, true);
      return true;
    case service::kResetHook: {
      hook = GetProcessHook();
      if (!hook || msg.hwnd == nullptr) return false;
      // A posted message belongs to a window of this thread; the sends
      // are bounded all the same, in case it is not.
      if (!IsWindowOfThisThread(msg.hwnd)) return false;
      if (BoundedSend(msg.hwnd, ServiceMessage(), service::kQueryResetHook, 0) ==
          service::kLeaveAloneAnswer) {
        return false;
      }
      ComPtr<ExtenderHooks> extender = hook->GetWindowExtender(msg.hwnd);
      if (!extender) return false;
      extender->ResetHook();
      BoundedSend(msg.hwnd, ServiceMessage(), service::kUnregister, 0);
      BoundedSend(msg.hwnd, ServiceMessage(), service::kCheckCandidate, 0);
      return true;
    }
    case service::kDeferredCheck:
      if (msg.hwnd == nullptr || IsMessageOnly(msg.hwnd) || !IsWindowCandidate(msg.hwnd))
        return false;
      hook = GetProcessHook();
      if (!hook || hook->WindowIsUnbinding(msg.hwnd)) return false;
      ProcessWindowCandidate(msg.hwnd, ExtensionReason::Default, ServiceMessage(), false);
      return true;
    default:
      return false;
  }
}

bool RunMessageFilters(MSG& msg) noexcept {
  if (g_filter_count.load(std::memory_order_acquire) == 0) return false;
  FilterSlot slots[4];
  AcquireSRWLockShared(&g_filter_lock);
  std::copy(std::begin(g_filters), std::end(g_filters), slots);
  ReleaseSRWLockShared(&g_filter_lock);
  for (const FilterSlot& slot : slots) {
    if (slot.filter != nullptr && slot.filter(slot.user_data, &msg)) return true;
  }
  return false;
}

// Step 10b: a window extended without subclassing (the extender is that of
// msg.hwnd; the window property says it works without subclassing).
void FeedNoninvasiveExtender(ExtenderHooks* extender, MSG& msg) {
  const SharedNames& n = Names();
  const bool wanted = msg.message < 0xC000 || IsServiceMessage(msg.message) ||
                      (n.taskbar_created != 0 && msg.message == n.taskbar_created) ||
                      (n.tray_icon != 0 && msg.message == n.tray_icon);
  if (!wanted || msg.hwnd == nullptr || !HasAtomProp(msg.hwnd, n.noninvasive)) return;
  if (IsServiceMessage(msg.message) && msg.wParam == service::kAfterMessage) {
    if (msg.lParam == 0) return;
    if (AfterMessageBlock* block = TakeAfterBlock(msg.lParam)) {
      extender->AfterMessage(block->message, block->before_handled);
      delete block;
    }
    return;
  }
  WindowMessage message;
  message.Msg = msg.message;
  message.WParam = msg.wParam;
  message.LParam = msg.lParam;
  const bool handled = extender->BeforeMessage(message);
  if (handled) msg.message = WM_NULL;
  auto* block = new (std::nothrow) AfterMessageBlock{message, handled};
  if (block == nullptr) return;
  if (!RememberAfterBlock(block)) {
    delete block;
    return;
  }
  if (!PostMessageW(msg.hwnd, ServiceMessage(), service::kAfterMessage,
                    reinterpret_cast<LPARAM>(block))) {
    TakeAfterBlock(reinterpret_cast<LPARAM>(block));
    delete block;
  }
}

// The window whose rule a click on `window` belongs to, or null.
HWND RuleWindowOf(ProcessHook* hook, HWND window) {
  if (IsSiblingWindow(window)) return nullptr;
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  if ((style & WS_CHILD) && !IsMdiChild(style, ex_style)) {
    HWND root = GetAncestor(window, GA_ROOT);
    return root != nullptr && !IsUtilityWindow(root) ? root : nullptr;
  }
  if (GetWindow(window, GW_OWNER) != nullptr && !IsUtilityWindow(window) &&
      !ExtenderOf(hook, window)) {
    return GetAncestor(window, GA_ROOTOWNER);
  }
  return nullptr;
}

// Step 10c: mouse clicks inside windows whose rule window is extended.
bool FeedClickToExtender(ProcessHook* hook, MSG& msg) {
  const UINT m = msg.message;
  const bool client = m >= WM_LBUTTONDOWN && m <= WM_MBUTTONDBLCLK;
  const bool non_client = m >= WM_NCLBUTTONDOWN && m <= WM_NCMBUTTONDBLCLK;
  if ((!client && !non_client) || msg.hwnd == nullptr) return false;
  HWND rule_window = RuleWindowOf(hook, msg.hwnd);
  if (rule_window == nullptr) return false;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  if (GetWindowPlacement(rule_window, &placement) && placement.showCmd == SW_SHOWMINIMIZED) {
    return false;
  }
  ComPtr<ExtenderHooks> extender = ExtenderOf(hook, rule_window);
  if (!extender) return false;
  WindowMessage message;
  message.Msg = m;
  message.WParam = msg.wParam;
  message.LParam = msg.lParam;
  if (client) {
    POINT pt = msg.pt;
    MapWindowPoints(nullptr, rule_window, &pt, 1);
    message.LParam = MAKELPARAM(pt.x, pt.y);
  }
  if (!extender->BeforeMessage(message)) return false;
  if (m == WM_LBUTTONUP || m == WM_RBUTTONUP || m == WM_MBUTTONUP || m == WM_NCLBUTTONUP ||
      m == WM_NCRBUTTONUP || m == WM_NCMBUTTONUP) {
    ReleaseCapture();
  }
  msg.message = WM_NULL;
  return true;
}

void RecognizeHotkey(LPARAM raw_input) {
  GetRawInputDataFn get = g_get_raw_input_data.load(std::memory_order_relaxed);
  if (get == nullptr) return;
  alignas(8) BYTE buffer[48] = {};
  UINT size = sizeof(buffer);
  const UINT copied =
      get(reinterpret_cast<HRAWINPUT>(raw_input), RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER));
  if (copied == 0 || copied == static_cast<UINT>(-1)) return;
  const auto* input = reinterpret_cast<const RAWINPUT*>(buffer);
  if (input->header.dwType != RIM_TYPEKEYBOARD) return;
  const bool released = (input->data.keyboard.Flags & RI_KEY_BREAK) != 0;
  AcquireSRWLockExclusive(&g_hotkey_lock);
  std::optional<std::wstring> atom_name;
  try {
    atom_name = g_hotkeys.OnKey(input->data.keyboard.VKey, released);
  } catch (...) {
  }
  ReleaseSRWLockExclusive(&g_hotkey_lock);
  if (!atom_name) return;
  if (ATOM atom = GlobalFindAtomW(atom_name->c_str())) {
    SendNotifyMessageW(GetForegroundWindow(), ServiceMessage(), service::kHotkey, atom);
  }
}

// Step 10e: Directory Opus's desktop double-click helper.
void HandleDopusDesktopClick(MSG& msg) {
  if (msg.hwnd == nullptr || ClassNameOf(msg.hwnd) != L"dopus.desktopdblclk") return;
  if (msg.message == WM_LBUTTONDBLCLK) {
    HWND foreground = GetForegroundWindow();
    const DWORD other = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    const DWORD self = GetCurrentThreadId();
    if (other != 0 && other != self) {
      AttachThreadInput(self, other, TRUE);
      SetForegroundWindow(msg.hwnd);
      AttachThreadInput(self, other, FALSE);
    } else {
      SetForegroundWindow(msg.hwnd);
    }
  } else if (msg.message == WM_NULL && msg.wParam == 0) {
    PostMessageW(msg.hwnd, WM_NULL, 1, 0);
  }
}

void ForwardAltTab(const MSG& msg) {
  if (msg.message != WM_HOTKEY || HIWORD(msg.lParam) != VK_TAB || !(LOWORD(msg.lParam) & MOD_ALT)) {
    return;
  }
  HWND main = FindWindowW(names::kMainWindowClass, nullptr);
  if (main == nullptr) return;
  // The container may hang; Explorer must not hang with it.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(main, names::WM_TC_ALTTABHOTKEY, LOWORD(msg.lParam),
                      reinterpret_cast<LPARAM>(GetForegroundWindow()), SMTO_ABORTIFHUNG,
                      kSendTimeoutMs, &result);
}

bool IsMouseClick(UINT m) noexcept {
  return (m >= WM_LBUTTONDOWN && m <= WM_MBUTTONDBLCLK) ||
         (m >= WM_NCLBUTTONDOWN && m <= WM_NCMBUTTONDBLCLK);
}

// Returns true when the message was consumed (the hook then returns 0). It
// runs for every message every GUI thread retrieves: until there is work to
// do it makes plain comparisons only, and window lookups (and the DPI
// switch) wait until a later step would act on the message.
bool MessageHookBody(HookFrame& frame, int code, WPARAM wparam, MSG* msg) {
  if (msg == nullptr || !EnsureLibraryStarted()) return false;
  const ProcessFlags& flags = CurrentProcessFlags();
  if (flags.library_idle) return false;  // dwm.exe: nothing but passing calls on
  const bool removed = (wparam & PM_REMOVE) != 0;

  // 1. Service messages, acted on once: when the message is removed.
  if (removed && IsServiceMessage(msg->message)) {
    frame.EngageDpi();
    if (HandleServiceMessage(*msg)) {
      msg->message = WM_NULL;
      msg->wParam = 0;
      msg->lParam = 0;
      return true;
    }
  }
  // 2. and 3.
  if (ApplicationUnloading()) {
    frame.EngageDpi();
    ReloadCheck();
  }
  if (ApplicationUnloading() || IsMessengerThread()) return false;
  // 4.
  if (ComPtr<MessengerHooks> messenger = GetMessenger()) {
    frame.EngageDpi();
    if (messenger->GetState() == 1) messenger->ResumeClientThread();
  }
  // 5.
  if (flags.explorer && msg->message != WM_QUIT &&
      !(msg->message == Names().handshake && Names().handshake != 0 && msg->wParam == 3)) {
    HookCurrentThread();
  }
  // 6. and 7.
  if (code < 0) return false;
  if (flags.explorer && removed) ForwardAltTab(*msg);

  ComPtr<ProcessHook> hook = GetProcessHook();
  const bool light_hook_work = hook && CurrentHookModes().get_message_only && msg->hwnd != nullptr;
  const bool filter_work = removed && g_filter_count.load(std::memory_order_acquire) != 0;
  const bool input_work = removed && msg->message == WM_INPUT;
  const bool dopus_work = removed && flags.dopusrt;
  // Extenders only see messages of windows they extend, or clicks inside them.
  ComPtr<ExtenderHooks> extender;
  if (removed && hook && msg->hwnd != nullptr) extender = hook->GetWindowExtender(msg->hwnd);
  const bool extender_work = removed && hook && (extender || IsMouseClick(msg->message));
  if (!light_hook_work && !filter_work && !input_work && !dopus_work && !extender_work)
    return false;

  // 8.
  if (msg->hwnd != nullptr && IsMessageOnly(msg->hwnd)) return false;
  frame.EngageDpi();
  // 9.
  if (light_hook_work) {
    if (IsServiceMessage(msg->message) && msg->wParam == service::kUnregister) {
      if (!hook->GetWindowExtender(msg->hwnd)) {
        hook->UnregisterWindow(msg->hwnd, static_cast<int>(static_cast<DWORD>(msg->lParam)));
      }
    } else if (!hook->WindowIsUnbinding(msg->hwnd) && IsWindowCandidate(msg->hwnd)) {
      ProcessWindowCandidate(msg->hwnd, ExtensionReason::Default, msg->message, false);
    }
  }
  // 10.
  if (!removed) return false;
  if (filter_work && RunMessageFilters(*msg)) {
    msg->message = WM_NULL;
    return false;
  }
  if (extender) FeedNoninvasiveExtender(extender.Get(), *msg);
  if (extender_work && FeedClickToExtender(hook.Get(), *msg)) return false;
  if (input_work && GET_RAWINPUT_CODE_WPARAM(msg->wParam) == RIM_INPUT && msg->hwnd != nullptr &&
      ClassNameOf(msg->hwnd) == L"DIEmWin") {
    g_raw_input_window.store(msg->hwnd);
    RecognizeHotkey(msg->lParam);
  }
  if (dopus_work) HandleDopusDesktopClick(*msg);
  return false;
}

// ---- Window-procedure hooks --------------------------------------------------------------

bool WindowProcHooksPassOn() {
  if (!EnsureLibraryStarted()) return true;
  return CurrentProcessFlags().library_idle || ApplicationUnloading() || IsMessengerThread();
}

void NoteConsoleWindow(HWND window) {
  if (!CurrentProcessFlags().conhost || window == nullptr) return;
  if (g_console_window.load() == nullptr) {
    if (ClassNameOf(window) != L"ConsoleWindowClass") return;
    g_console_window.store(window);
  }
  if (g_console_handed_over.load()) return;
  if (ComPtr<MessengerHooks> messenger = GetMessenger()) {
    if (!g_console_handed_over.exchange(true)) messenger->SetWindowProcess(g_console_window.load());
  }
}

bool IsWpfWrapperClass(const std::wstring& name) {
  return name.size() > 50 && name.rfind(L"HwndWrapper[", 0) == 0 && name.back() == L']';
}

// Step 3 of the hook before the call, for WM_WINDOWPOSCHANGING/CHANGED.
// Returns false when the non-invasive step is to be skipped.
bool ExamineWindowPos(const CWPSTRUCT& cwp) {
  const HWND window = cwp.hwnd;
  if (CurrentProcessFlags().devenv && cwp.message == WM_WINDOWPOSCHANGING &&
      (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)) {
    HWND parent = GetAncestor(window, GA_PARENT);
    if (parent != nullptr && IsWpfWrapperClass(ClassNameOf(parent))) {
      // The parent may belong to another thread (WPF hosts do that).
      BoundedSend(parent, ServiceMessage(), service::kCaptionChanged, 0);
    }
    return true;
  }
  const std::wstring class_name = ClassNameOf(window);
  if (IsSkippedClass(class_name)) return false;
  if (CurrentHookModes().deferred_window_checks || IsDeferredCheckClass(class_name)) {
    PostMessageW(window, ServiceMessage(), service::kDeferredCheck, 0);
    return false;
  }
  const UINT examine_on = IsLateCheckClass(class_name) ? WM_WINDOWPOSCHANGED : WM_WINDOWPOSCHANGING;
  if (cwp.message != examine_on) return true;
  ComPtr<ProcessHook> hook = GetProcessHook();
  if (hook && !hook->WindowIsUnbinding(window) && IsWindowCandidate(window)) {
    const auto* pos = reinterpret_cast<const WINDOWPOS*>(cwp.lParam);
    const bool showing = pos != nullptr && (pos->flags & SWP_SHOWWINDOW) != 0;
    ProcessWindowCandidate(window, ExtensionReason::Default, cwp.message, showing);
  }
  return true;
}

void CallWndProcBody(int code, const CWPSTRUCT* cwp) {
  if (cwp == nullptr || WindowProcHooksPassOn()) return;
  NoteConsoleWindow(cwp->hwnd);
  if (code < 0 || cwp->hwnd == nullptr) return;
  bool feed_extender = true;
  if (IsServiceMessage(cwp->message) && cwp->wParam == service::kCheckCandidate) {
    if (IsWindowCandidate(cwp->hwnd)) {
      ProcessWindowCandidate(cwp->hwnd, ExtensionReason::Default, ServiceMessage(), false);
    }
  } else if (IsServiceMessage(cwp->message) && cwp->wParam == service::kUnregister) {
    ComPtr<ProcessHook> hook = GetProcessHook();
    if (hook && !hook->GetWindowExtender(cwp->hwnd)) {
      hook->UnregisterWindow(cwp->hwnd, static_cast<int>(static_cast<DWORD>(cwp->lParam)));
    }
  } else if (cwp->message == WM_WINDOWPOSCHANGING || cwp->message == WM_WINDOWPOSCHANGED) {
    feed_extender = ExamineWindowPos(*cwp);
  }
  if (!feed_extender) return;
  if (ComPtr<ProcessHook> hook = GetProcessHook()) {
    if (ComPtr<ExtenderHooks> extender = NoninvasiveExtenderOf(hook.Get(), cwp->hwnd)) {
      WindowMessage message;
      message.Msg = cwp->message;
      message.WParam = cwp->wParam;
      message.LParam = cwp->lParam;
      extender->BeforeMessage(message);  // the window's procedure runs anyway
    }
  }
}

void ForgetDestroyedWindow(HWND window) {
  void* stub = GetPropW(window, ObjectInstanceProp());
  if (stub == nullptr) return;
  ComPtr<ProcessHook> hook = GetProcessHook();
  if (ExtenderOf(hook.Get(), window)) {
    hook->UnregisterWindow(window, 2);
  } else {
    if (Names().rule_crc != 0) RemovePropW(window, MAKEINTATOM(Names().rule_crc));
    if (Names().rule_crc_valid != 0) RemovePropW(window, MAKEINTATOM(Names().rule_crc_valid));
  }
  RemovePropW(window, ObjectInstanceProp());
  const LONG_PTR proc = IsWindowUnicode(window) ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                                                : GetWindowLongPtrA(window, GWLP_WNDPROC);
  if (reinterpret_cast<void*>(proc) == stub) {
    // Freed once the window is gone, on this thread, by the message hook.
    if (!StubPool::Instance().IsStub(stub) || !RememberPendingFree(stub)) return;
    if (!PostThreadMessageW(GetCurrentThreadId(), ServiceMessage(), service::kFreeStub,
                            reinterpret_cast<LPARAM>(stub))) {
      // Nobody will ask for it: the window is gone, so it can go at once.
      if (TakePendingFree(reinterpret_cast<LPARAM>(stub))) StubPool::Instance().FreeStub(stub);
    }
  }
}

void CallWndProcRetBody(int code, const CWPRETSTRUCT* ret) {
  if (ret == nullptr || WindowProcHooksPassOn()) return;
  if (code < 0 || ret->hwnd == nullptr) return;
  if ((ret->message == WM_SETTEXT && ret->lResult != 0) ||
      (IsServiceMessage(ret->message) && ret->wParam == service::kCaptionChanged)) {
    if (ComPtr<ProcessHook> hook = GetProcessHook()) {
      hook->OnCaptionChanged(ret->hwnd, ret->message, ret->lParam);
    }
  } else if (ret->message == WM_NCDESTROY) {
    if (GetPropW(ret->hwnd, ObjectInstanceProp()) != nullptr) {
      ForgetDestroyedWindow(ret->hwnd);
      return;
    }
  }
  if (ComPtr<ProcessHook> hook = GetProcessHook()) {
    if (ComPtr<ExtenderHooks> extender = NoninvasiveExtenderOf(hook.Get(), ret->hwnd)) {
      WindowMessage message;
      message.Msg = ret->message;
      message.WParam = ret->wParam;
      message.LParam = ret->lParam;
      extender->AfterMessage(message, true);
    }
  }
}

void WinEventBody(DWORD event, HWND window, LONG object_id, LONG child_id) {
  if (!EnsureLibraryStarted() || CurrentProcessFlags().library_idle || ApplicationUnloading())
    return;
  if (object_id != OBJID_WINDOW || child_id != CHILDID_SELF || window == nullptr ||
      !IsWindow(window)) {
    return;
  }
  if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) || IsSiblingWindow(window) ||
      HasIgnoredClass(window)) {
    return;
  }
  switch (event) {
    case EVENT_OBJECT_DESTROY:
      if (IsExplorerFrame(window)) PostToContainer(window, event);
      return;
    case EVENT_OBJECT_NAMECHANGE:
      if (ComPtr<ProcessHook> hook = GetProcessHook()) hook->OnCaptionChanged(window, 0, 0);
      if (CurrentProcessFlags().explorer && IsExplorerFrame(window)) PostToContainer(window, event);
      return;
    case EVENT_OBJECT_SHOW:
      if (CurrentHookModes().get_message_only) PostMessageW(window, WM_NULL, 0, 0);
      break;
    default:
      break;
  }
  if (ComPtr<ApplicationHooks> app = GetApplication()) {
    if (HWND center = app->GetMainCenterWindow()) {
      PostMessageW(center, Names().win_event, event, reinterpret_cast<LPARAM>(window));
    }
  }
}

}  // namespace

// ---- Entry points ----------------------------------------------------------------------------

bool MessageHookWork(HookFrame& frame, int code, WPARAM wparam, MSG* msg) noexcept {
  try {
    return MessageHookBody(frame, code, wparam, msg);
  } catch (...) {
    return false;
  }
}

LRESULT CALLBACK MessageHookProc(int code, WPARAM wparam, LPARAM lparam) noexcept {
  HookFrame frame(DpiSwitch::WhenNeeded);
  const bool consumed = MessageHookWork(frame, code, wparam, reinterpret_cast<MSG*>(lparam));
  frame.RestoreLastError();
  return consumed ? 0 : CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK ShellHookProc(int code, WPARAM wparam, LPARAM lparam) noexcept {
  HookFrame frame;
  try {
    if (EnsureLibraryStarted()) {
      ReloadCheck();
      if (!CurrentProcessFlags().library_idle && !ApplicationUnloading() && code > 0) {
        const HWND window = reinterpret_cast<HWND>(wparam);
        if (window != nullptr && IsWindow(window)) {
          HookCurrentThread();
          if (code == HSHELL_REDRAW) {
            if (ComPtr<ProcessHook> hook = GetProcessHook()) hook->OnCaptionChanged(window, 0, 0);
          }
        }
      }
    }
  } catch (...) {
  }
  frame.RestoreLastError();
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK CallWndProcHook(int code, WPARAM wparam, LPARAM lparam) noexcept {
  HookFrame frame;
  try {
    CallWndProcBody(code, reinterpret_cast<const CWPSTRUCT*>(lparam));
  } catch (...) {
  }
  frame.RestoreLastError();
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK CallWndProcRetHook(int code, WPARAM wparam, LPARAM lparam) noexcept {
  HookFrame frame;
  try {
    CallWndProcRetBody(code, reinterpret_cast<const CWPRETSTRUCT*>(lparam));
  } catch (...) {
  }
  frame.RestoreLastError();
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void CALLBACK WinEventProc(HWINEVENTHOOK, DWORD event, HWND window, LONG object_id, LONG child_id,
                           DWORD, DWORD) noexcept {
  HookFrame frame;
  try {
    WinEventBody(event, window, object_id, child_id);
  } catch (...) {
  }
  frame.RestoreLastError();
}

bool IsWindowCandidate(HWND window) noexcept {
  if (window == nullptr) return false;
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  bool qualifies = (style != 0 && !(style & WS_CHILD)) || (ex_style & WS_EX_TOOLWINDOW) ||
                   IsMdiChild(style, ex_style);
  if (qualifies && (ex_style & WS_EX_TOOLWINDOW)) {
    qualifies = GetParent(window) != GetAncestor(window, GA_PARENT);
  }
  return qualifies && !WindowHasClass(window, ClassAtom::MessengerClient) &&
         !WindowHasClass(window, ClassAtom::ConfigMessengerClient);
}

void ProcessWindowCandidate(HWND window, ExtensionReason reason, UINT,
                            bool ignore_visibility) noexcept {
  try {
    ComPtr<ProcessHook> hook = GetProcessHook();
    if (!hook || !hook->IsActive()) return;
    if (hook->IsWindowExtended(window) && reason != ExtensionReason::CaptionChanged) return;
    const WindowsVersionFlags& version = CurrentWindowsVersion();
    if (version.win8_or_later) {
      const int band = WindowBand(window);
      const bool desktop_band = band == 1 || band == 2 || band == 16;
      const bool frame_host_band =
          version.win10_or_later && CurrentProcessFlags().application_frame && band == 8;
      if (!desktop_band && band != 4 && !frame_host_band) return;
      if (version.win10_or_later && desktop_band && WindowHasClass(window, ClassAtom::CoreWindow)) {
        return;
      }
    }
    if (HasIgnoredClass(window)) return;
    hook->RegisterWindow(window, reason);
    if (hook->HasWindowParams(window)) hook->CheckVisibleWindow(window, ignore_visibility);
  } catch (...) {
  }
}

void SetWindowBandQuery(WindowBandQuery query) noexcept { g_band_query.store(query); }

bool RegisterMessageFilter(int slot, MessageFilter filter, void* user_data) noexcept {
  if (slot < 0 || slot >= 4) return false;
  AcquireSRWLockExclusive(&g_filter_lock);
  const bool was = g_filters[slot].filter != nullptr;
  g_filters[slot] = FilterSlot{filter, filter ? user_data : nullptr};
  const int delta = (filter != nullptr ? 1 : 0) - (was ? 1 : 0);
  g_filter_count.fetch_add(delta, std::memory_order_acq_rel);
  ReleaseSRWLockExclusive(&g_filter_lock);
  return true;
}

void InitHookProcedures() noexcept {
  if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
    g_get_window_band.store(
        reinterpret_cast<GetWindowBandFn>(GetProcAddress(user32, "GetWindowBand")));
    g_get_raw_input_data.store(
        reinterpret_cast<GetRawInputDataFn>(GetProcAddress(user32, "GetRawInputData")));
  }
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  g_bands_unsupported_by_host.store(ntdll != nullptr &&
                                    GetProcAddress(ntdll, "wine_get_version") != nullptr);
}

}  // namespace vm::hooklib
