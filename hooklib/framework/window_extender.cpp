#include "hooklib/framework/window_extender.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <typeinfo>

#include "common/names.h"
#include "common/shared_names.h"
#include "hooklib/core/hook_frame.h"
#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/library.h"
#include "hooklib/core/library_state.h"
#include "hooklib/core/utility_window.h"
#include "hooklib/core/window_hook.h"
#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/extender_rules.h"
#include "hooklib/framework/operation.h"
#include "hooklib/framework/param_text.h"
#include "hooklib/framework/text_case.h"
#include "hooklib/messenger/event_line.h"

namespace vm::framework {

// The stub's object. The extender clears `extender` (under the lock) before
// it lets go of the window; a stub call that comes later, or races with an
// extender going away on another thread, finds it null and passes the
// message on. The link is freed with the extender only when the stub can no
// longer call it: the extender went on the window's thread, or the window
// is gone. Otherwise it stays (a few bytes) for the life of the process.
struct ExtenderLink {
  SRWLOCK lock = SRWLOCK_INIT;
  WindowExtender* extender = nullptr;
  std::atomic<void*> old_proc{nullptr};
  bool unicode = true;
  std::atomic<bool> kept{false};  // a foreign thread let go of a live window
};

namespace {

using hooklib::WindowMessage;

std::atomic<long> g_extender_count{0};

UINT ServiceMessage() noexcept { return Names().service; }

bool IsService(UINT msg, WPARAM code, WPARAM wanted) noexcept {
  return ServiceMessage() != 0 && msg == ServiceMessage() && code == wanted;
}

std::wstring RawClassName(HWND wnd) {
  wchar_t name[257] = {};
  const int n = GetClassNameW(wnd, name, 257);
  return std::wstring(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring NormalisedClassName(HWND wnd, int depth = 0) {
  const std::wstring raw = RawClassName(wnd);
  if (!IsWrapperClassName(raw)) return raw;
  std::wstring name = TrimWrapperClassName(raw);
  if (depth < 8) {
    if (HWND child = GetWindow(wnd, GW_CHILD))
      name += L" - " + NormalisedClassName(child, depth + 1);
  }
  return name;
}

std::wstring HostPathLower() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring out(path, n);
  if (!out.empty()) CharLowerBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::wstring HostNameLower() {
  const std::wstring path = HostPathLower();
  const std::size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring AnsiToWide(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes.data()),
                        static_cast<int>(bytes.size()), out.data(), n);
  }
  return out;
}

std::wstring Hex8(std::uintptr_t value) {
  wchar_t text[16] = {};
  swprintf(text, 16, L"%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
  return text;
}

void ForwardToOld(ExtenderLink* link, HWND wnd, WindowMessage& m) noexcept {
  void* old = link->old_proc.load();
  if (old == nullptr)
    old = link->unicode ? reinterpret_cast<void*>(&DefWindowProcW)
                        : reinterpret_cast<void*>(&DefWindowProcA);
  m.Result = link->unicode
                 ? CallWindowProcW(reinterpret_cast<WNDPROC>(old), wnd, m.Msg, m.WParam, m.LParam)
                 : CallWindowProcA(reinterpret_cast<WNDPROC>(old), wnd, m.Msg, m.WParam, m.LParam);
}

// Takes a reference on the link's extender, or null when it is gone.
ComPtr<IWindowExtender> TakeExtender(ExtenderLink* link, WindowExtender** raw) noexcept {
  AcquireSRWLockShared(&link->lock);
  WindowExtender* ext = link->extender;
  ComPtr<IWindowExtender> ref;
  if (ext != nullptr) ref = static_cast<IWindowExtender*>(ext);
  ReleaseSRWLockShared(&link->lock);
  *raw = ext;
  return ref;
}

void LinkWindowProc(void* object, HWND wnd, WindowMessage* m) noexcept {
  auto* link = static_cast<ExtenderLink*>(object);
  WindowExtender* ext = nullptr;
  ComPtr<IWindowExtender> ref = TakeExtender(link, &ext);
  if (!ref || ext->GetWnd() == nullptr) {
    ForwardToOld(link, wnd, *m);
    return;
  }
  ext->WindowProc(wnd, *m);
}

void LinkServiceProc(void* object, HWND wnd, WindowMessage* m) noexcept {
  auto* link = static_cast<ExtenderLink*>(object);
  WindowExtender* ext = nullptr;
  ComPtr<IWindowExtender> ref = TakeExtender(link, &ext);
  if (!ref) {
    m->Result = DefWindowProcA(wnd, m->Msg, m->WParam, m->LParam);
    return;
  }
  ext->ServiceWindowProc(wnd, *m);
}

Message ToMessage(const WindowMessage& m) { return Message{m.Msg, m.WParam, m.LParam, m.Result}; }
void FromMessage(const Message& from, WindowMessage& to) {
  to.Msg = from.Msg;
  to.WParam = from.WParam;
  to.LParam = from.LParam;
  to.Result = from.Result;
}

// Remembers GetLastError on entry and clears an error the extender's own
// work left behind when there was none before.
class LastErrorGuard {
 public:
  LastErrorGuard() noexcept : before_(GetLastError()) {}
  ~LastErrorGuard() {
    if (before_ == 0 && GetLastError() != 0) SetLastError(0);
  }

 private:
  DWORD before_;
};

}  // namespace

namespace {

// The extender answers IItem through two interface chains, so the generic
// factory's single cast does not apply: it is made here.
ComPtr<IItem> MakeWindowExtender(std::wstring_view params) noexcept {
  ComPtr<WindowExtender> object = MakeCom<WindowExtender>();
  if (!object) return nullptr;
  try {
    object->InitInstance();
  } catch (...) {
    return nullptr;
  }
  object->ApplyParams(params);
  return ComPtr<IItem>(static_cast<IItem*>(static_cast<IWindowExtender*>(object.Get())));
}

const ItemClass kWindowExtenderItemClass{typeid(WindowExtender).name(),
                                         [](const AbstractObject& object) noexcept {
                                           return dynamic_cast<const WindowExtender*>(&object) !=
                                                  nullptr;
                                         },
                                         &MakeWindowExtender};

}  // namespace

bool EnsureWindowExtenderClass() noexcept {
  static const bool registered = [] {
    RegisterItemClass(kWindowExtenderItemClass, kWindowExtenderClassName);
    EnsureOperationClass();  // actions' rule texts may name operations
    return true;
  }();
  return registered && FindItemClass(kWindowExtenderClassName) != nullptr;
}

WindowExtender::WindowExtender() { InitializeCriticalSection(&exclusive_lock_); }

WindowExtender::~WindowExtender() {
  if (wnd_.load() != nullptr) DetachWindow();
  timers_.Clear();
  if (link_ != nullptr) {
    AcquireSRWLockExclusive(&link_->lock);
    link_->extender = nullptr;
    ReleaseSRWLockExclusive(&link_->lock);
    // DetachWindow turned the stub into a forwarder, so no stub calls the
    // link any more, unless a foreign thread let go of a live window whose
    // thread may be inside the stub right now.
    if (!link_->kept.load()) delete link_;
  }
  DeleteCriticalSection(&exclusive_lock_);
  if (counted_) hooklib::LeaveLibraryCall();  // the very last step
}

void WindowExtender::InitInstance() {
  name_ = L"WindowExtender" + std::to_wstring(g_extender_count.fetch_add(1) + 1);
  hooklib::EnterLibraryCall();  // no unload while an extender exists
  counted_ = true;
  actions_ = MakeCom<Actions>();
  triggers_ = MakeCom<Triggers>();
  handlers_ = MakeCom<MessageHandlers>();
  if (!actions_ || !triggers_ || !handlers_) throw std::bad_alloc();
}

void* WindowExtender::FindInterface(REFIID riid) noexcept {
  return FindInterfaceIn<IMessageHandler, IChildMessageHandler, IServerMessageRedirector,
                         IWindowPartOwner, IWindowHandler, IWindowExtender>(this, riid);
}

// ---- Parameters ----------------------------------------------------------------

void WindowExtender::SetPartParam(bool trigger, std::wstring_view value) {
  const PartText part = SplitPartText(value);
  const Variant key{part.name};
  if (trigger) {
    if (triggers_->IndexByKey(part.name) >= 0) {
      if (ComPtr<ITrigger> existing = triggers_->GetItems(key)) existing->ParseParams(part.params);
      return;
    }
    ComPtr<IItem> item = CreateItem(part.class_name, part.params);
    ComPtr<ITrigger> made;
    if (item && SUCCEEDED(item.As(&made))) triggers_->Add(made.Get());
    return;
  }
  if (actions_->IndexByKey(part.name) >= 0) {
    if (ComPtr<IAction> existing = actions_->GetItems(key)) existing->ParseParams(part.params);
    return;
  }
  ComPtr<IItem> item = CreateItem(part.class_name, part.params);
  ComPtr<IAction> made;
  if (item && SUCCEEDED(item.As(&made))) actions_->Add(made.Get());
}

void WindowExtender::SetParam(std::wstring_view name, const Variant& value) {
  AbstractItem::SetParam(name, value);
  const std::wstring text = VariantToString(value);
  if (name == L"action") {
    SetPartParam(false, text);
  } else if (name == L"trigger") {
    SetPartParam(true, text);
  } else if (name == L"special_icons") {
    special_icons_ = text;
  } else if (name == L"toolbox") {
    ComPtr<IItem> item = CreateItemFromText(text);
    ComPtr<IToolbox> toolbox;
    if (item && SUCCEEDED(item.As(&toolbox))) toolbox_ = toolbox;
  } else if (!params_.KeyExist(name)) {
    params_.Add(AnsiToWide(HexToBytes<wchar_t>(text)), false, name);
  }
}

std::wstring WindowExtender::GetParamDefault(std::wstring_view name,
                                             std::wstring_view default_value) noexcept {
  try {
    if (const std::wstring* v = params_.GetItemsK(name)) return *v;
    return std::wstring(default_value);
  } catch (...) {
    return {};
  }
}

// ---- Life cycle ------------------------------------------------------------------

template <class Fn>
void WindowExtender::ForEachPart(bool reverse, Fn&& fn) {
  // Order: toolbox, actions, triggers; reversed: triggers, actions, toolbox.
  std::vector<ComPtr<IWindowPart>> parts;
  if (toolbox_) parts.push_back(toolbox_);
  for (int i = 0; i < actions_->Count(); ++i) {
    if (ComPtr<IAction> a = actions_->GetItems(Variant{static_cast<std::int32_t>(i)}))
      parts.push_back(a);
  }
  for (int i = 0; i < triggers_->Count(); ++i) {
    if (ComPtr<ITrigger> t = triggers_->GetItems(Variant{static_cast<std::int32_t>(i)}))
      parts.push_back(t);
  }
  if (reverse) std::reverse(parts.begin(), parts.end());
  for (const auto& part : parts) fn(part.Get());
}

ComPtr<IWindowExtenderOwner> WindowExtender::Owner() const noexcept {
  AcquireSRWLockShared(&state_lock_);
  ComPtr<IWindowExtenderOwner> owner = owner_;
  ReleaseSRWLockShared(&state_lock_);
  return owner;
}

void WindowExtender::Init(IItem* owner) noexcept {
  ComPtr<IWindowExtenderOwner> as_owner;
  if (owner != nullptr) owner->QueryInterface(__uuidof(IWindowExtenderOwner), &as_owner);
  AcquireSRWLockExclusive(&state_lock_);
  owner_ = as_owner;
  ReleaseSRWLockExclusive(&state_lock_);
  try {
    ForEachPart(false, [this](IWindowPart* p) { p->Init(static_cast<IWindowExtender*>(this)); });
  } catch (...) {
  }
}

void WindowExtender::Bind() noexcept {
  try {
    ForEachPart(false, [](IWindowPart* p) { p->Bind(); });
  } catch (...) {
  }
}

void WindowExtender::Unbind() noexcept {
  try {
    ForEachPart(true, [](IWindowPart* p) { p->Unbind(); });
  } catch (...) {
  }
}

void WindowExtender::Done() noexcept {
  if (wnd_.load() != nullptr) DetachWindow();
  try {
    ForEachPart(true, [](IWindowPart* p) { p->Done(); });
  } catch (...) {
  }
  AcquireSRWLockExclusive(&state_lock_);
  ComPtr<IWindowExtenderOwner> owner = std::move(owner_);
  ReleaseSRWLockExclusive(&state_lock_);
}

ComPtr<IItem> WindowExtender::GetOwner() noexcept {
  ComPtr<IWindowExtenderOwner> owner = Owner();
  return owner ? ComPtr<IItem>(static_cast<IItem*>(owner.Get())) : nullptr;
}

void WindowExtender::RequestExclusiveAccess() noexcept { EnterCriticalSection(&exclusive_lock_); }
void WindowExtender::ReleaseExclusiveAccess() noexcept { LeaveCriticalSection(&exclusive_lock_); }

void WindowExtender::ReapplyRule() noexcept {
  if (HWND wnd = wnd_.load()) PostMessageW(wnd, ServiceMessage(), kServiceReapplyRule, 0);
}

// ---- Attach and detach -----------------------------------------------------------------

void WindowExtender::DecideSubclassing(HWND wnd) {
  SubclassFacts facts;
  facts.class_name = class_name_;
  facts.host_path_lower = HostPathLower();
  facts.smart_maximize_loaded = GetModuleHandleW(L"nvsmartmax64.dll") != nullptr;
  if (StaysNoninvasive(facts)) {
    noninvasive_ = true;
    if (Names().noninvasive != 0)
      ::SetPropW(wnd, MAKEINTATOM(Names().noninvasive), reinterpret_cast<HANDLE>(1));
    return;
  }
  if (link_ == nullptr) link_ = new ExtenderLink();
  link_->extender = this;
  link_->unicode = IsWindowUnicode(wnd) != FALSE;
  hook_ = std::make_unique<hooklib::WindowHook>(wnd, hooklib::StubMethod{&LinkWindowProc, link_});
  if (!hook_->Enabled()) {
    hook_.reset();  // the window keeps its own procedure
    return;
  }
  link_->old_proc.store(hook_->OldWndProc());
  alive_ = {};
  check_timer_ = timers_.CreateNewTimer();
  if (check_timer_ != nullptr) {
    check_timer_->SetInterval(100);
    check_timer_->SetCallback([this] { CheckExtenderTimerNotify(); });
    check_timer_->SetEnabled(true);
  }
}

void WindowExtender::AttachWindow(HWND wnd) noexcept {
  if (wnd == nullptr || wnd_.load() != nullptr) return;
  try {
    wnd_.store(wnd);
    class_name_ = NormalisedClassName(wnd);
    LogExtensionEvent(L"AttachWindow", L"-");
    if (link_ == nullptr) link_ = new ExtenderLink();
    link_->extender = this;
    const hooklib::StubMethod service{&LinkServiceProc, link_};
    service_wnd_ =
        hooklib::CreateUtilityWindow(&service, HWND_MESSAGE, nullptr, WS_POPUP, WS_EX_TOOLWINDOW);
    timers_.SetWindowHandle(service_wnd_);
    const std::wstring host = HostPathLower();
    timers_.SetIdSeed(TimerIdSeed(host));
    const std::wstring host_name = HostNameLower();
    is_dialog_in_explorer_ = host_name == L"explorer.exe" && class_name_ == L"#32770";
    const LONG_PTR style = GetWindowLongPtrW(wnd, GWL_STYLE);
    const LONG_PTR ex_style = GetWindowLongPtrW(wnd, GWL_EXSTYLE);
    is_mdi_ = (ex_style & WS_EX_MDICHILD) != 0 ||
              ((style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION && !(style & WS_POPUP));
    is_metro_frame_ = WindowHasClass(wnd, ClassAtom::SiblingAppFrame);
    is_app_frame_ = hooklib::CurrentWindowsVersion().win10_or_later &&
                    WindowHasClass(wnd, ClassAtom::ApplicationFrame) &&
                    (host_name == L"applicationframehost.exe" || host_name == L"explorer.exe");
    is_container_ = WindowHasClass(wnd, ClassAtom::ContainerWindow);
    is_chrome_ = class_name_.find(L"Chrome_WidgetWin_") != std::wstring::npos ||
                 class_name_.find(L"YandexBrowser_WidgetWin_") != std::wstring::npos;
    ForEachPart(false, [wnd](IWindowPart* p) {
      if (p->IsProperWindow(wnd)) {
        p->AttachWindow();
      } else {
        p->Unbind();
      }
    });
    DecideSubclassing(wnd);
    PostMessageW(wnd, ServiceMessage(), kServiceAttached, 0);
  } catch (...) {
    // A part that could not be set up leaves the window as it was.
  }
}

void WindowExtender::DetachWindow() noexcept {
  HWND wnd = wnd_.load();
  if (wnd == nullptr) return;
  try {
    timers_.SetWindowHandle(nullptr);
    timers_.Clear();
    check_timer_ = nullptr;
    if (service_wnd_ != nullptr) {
      hooklib::DestroyUtilityWindow(service_wnd_);
      service_wnd_ = nullptr;
    }
    if (link_ != nullptr) {
      AcquireSRWLockExclusive(&link_->lock);
      link_->extender = nullptr;
      ReleaseSRWLockExclusive(&link_->lock);
    }
    const bool foreign_thread =
        IsWindow(wnd) && GetWindowThreadProcessId(wnd, nullptr) != GetCurrentThreadId();
    hook_.reset();  // the stub becomes a pass-through to the procedure before it
    // A window of another thread may be inside the stub right now: its
    // link must outlive us (see ExtenderLink).
    if (foreign_thread && link_ != nullptr) link_->kept.store(true);
    if (noninvasive_ && IsWindow(wnd) && Names().noninvasive != 0)
      ::RemovePropW(wnd, MAKEINTATOM(Names().noninvasive));
    ForEachPart(true, [](IWindowPart* p) {
      if (p->IsAttached()) p->DetachWindow();
    });
  } catch (...) {
  }
  wnd_.store(nullptr);
}

void WindowExtender::ResetHook() noexcept {
  if (hook_ && hook_->Enabled()) hook_->RehookWindow(false);
}

bool WindowExtender::Subclassed() const noexcept { return hook_ && hook_->Enabled(); }
bool WindowExtender::CheckTimerEnabled() const noexcept {
  return check_timer_ != nullptr && check_timer_->Enabled();
}
void* WindowExtender::StubAddress() const noexcept { return hook_ ? hook_->Stub() : nullptr; }

// ---- The window procedure ------------------------------------------------------------------

void WindowExtender::WindowProc(HWND wnd, WindowMessage& m) noexcept {
  // The reference the caller took keeps us alive; the frame switches DPI
  // awareness for the call and restores it.
  hooklib::HookFrame frame;
  nesting_.fetch_add(1);
  if (IsService(m.Msg, m.WParam, kServiceAliveCheck)) {
    m.Result = kAliveAnswer;
  } else {
    Message message = ToMessage(m);
    const bool had_owner = static_cast<bool>(Owner());
    const bool handled = BeforeMessage(message);
    FromMessage(message, m);
    if (had_owner && !Owner()) {
      // Closed meanwhile: the window must not lose the message.
      if (!handled && link_ != nullptr) ForwardToOld(link_, wnd, m);
    } else {
      if (!handled) {
        CallOriginalWndProc(message);
        m.Result = message.Result;
      }
      AfterMessage(message, handled);
      m.Result = message.Result;
    }
  }
  nesting_.fetch_sub(1);
  // The last error stays what the window's own procedure left: the
  // extender's handlers clear only errors of their own (LastErrorGuard).
}

void WindowExtender::ServiceWindowProc(HWND wnd, WindowMessage& m) noexcept {
  hooklib::HookFrame frame;
  try {
    if (wnd_.load() != nullptr && timers_.ProcessMessage(m.Msg, m.WParam)) {
      m.Result = 0;
      return;
    }
  } catch (...) {
  }
  m.Result = DefWindowProcA(wnd, m.Msg, m.WParam, m.LParam);
}

void WindowExtender::CallOriginalWndProc(Message& message) noexcept {
  HWND wnd = wnd_.load();
  if (wnd == nullptr || !hook_) return;
  WindowMessage m;
  m.Msg = message.Msg;
  m.WParam = message.WParam;
  m.LParam = message.LParam;
  hook_->CallOldProc(wnd, m);
  message.Result = m.Result;
}

std::vector<ComPtr<IMessageHandler>> WindowExtender::HandlersSnapshot() const {
  std::vector<ComPtr<IMessageHandler>> out;
  AcquireSRWLockShared(&state_lock_);
  try {
    const int count = handlers_->Count();
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out.push_back(handlers_->GetItems(i));
  } catch (...) {
  }
  ReleaseSRWLockShared(&state_lock_);
  return out;
}

bool WindowExtender::OwnBeforeMessage(Message& m) {
  HWND wnd = wnd_.load();
  switch (m.Msg) {
    case WM_STYLECHANGED:
      if (!hooklib::IsWindowCandidate(wnd) && class_name_ == L"IEFrame") ReapplyRule();
      return false;
    case WM_ENTERSIZEMOVE:
      in_size_move_ = true;
      return false;
    case WM_DPICHANGED:
      if (target_rect_valid_ && m.LParam != 0) *reinterpret_cast<RECT*>(m.LParam) = target_rect_;
      return false;
    default:
      break;
  }
  if (ServiceMessage() == 0 || m.Msg != ServiceMessage()) return false;
  if (m.WParam == kServiceDetach) {
    if (HonourDetachNow(nesting_.load(), detach_tries_)) {
      if (ComPtr<IWindowExtenderOwner> owner = Owner()) {
        owner->OnClose(this, static_cast<int>(static_cast<DWORD>(m.LParam)));
      }
    } else {
      ++detach_tries_;
      PostMessageW(wnd, ServiceMessage(), kServiceDetach, m.LParam);
    }
    return true;
  }
  if (m.WParam == kServiceSetCursor) {
    // Only a system cursor id: any other value would be read as a string
    // pointer, and a posted lParam may come from anywhere.
    if (IS_INTRESOURCE(m.LParam) && m.LParam != 0) {
      if (HCURSOR cursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(m.LParam))) SetCursor(cursor);
    }
  }
  return false;
}

bool WindowExtender::BeforeMessage(Message& m) noexcept {
  LastErrorGuard error;
  try {
    if (IsService(m.Msg, m.WParam, kServiceDetach)) return OwnBeforeMessage(m);
    OwnBeforeMessage(m);
  } catch (...) {
  }
  bool result = false;
  try {
    for (const auto& handler : HandlersSnapshot()) {
      if (handler) result = handler->BeforeMessage(m) || result;
    }
  } catch (...) {
  }
  return result;
}

void WindowExtender::AfterMessage(Message& m, bool before_handled) noexcept {
  LastErrorGuard error;
  if (m.Msg == WM_EXITSIZEMOVE) in_size_move_ = false;
  if (m.Msg == WM_DPICHANGED) window_dpi_ = window_nc_dpi_ = 0;
  try {
    for (const auto& handler : HandlersSnapshot()) {
      if (handler) handler->AfterMessage(m, before_handled);
    }
  } catch (...) {
  }
  try {
    if (m.Msg == WM_DESTROY ||
        (m.Msg == WM_CLOSE && (IsConsole() || HostNameLower() == L"conhost.exe"))) {
      if (ComPtr<IWindowExtenderOwner> owner = Owner()) owner->OnClose(this, 2);
    } else if (m.Msg == WM_STYLECHANGING &&
               EqualsIgnoreCase(class_name_, L"LaunchUnrealUWindowsClient")) {
      PostMessageW(wnd_.load(), ServiceMessage(), kServiceCheckSubclass, 0);
    }
  } catch (...) {
  }
}

bool WindowExtender::BeforeMessage(WindowMessage& m) noexcept {
  Message message = ToMessage(m);
  const bool handled = BeforeMessage(message);
  FromMessage(message, m);
  return handled;
}

void WindowExtender::AfterMessage(WindowMessage& m, bool before_handled) noexcept {
  Message message = ToMessage(m);
  AfterMessage(message, before_handled);
  FromMessage(message, m);
}

// ---- Alive checks ------------------------------------------------------------------

void WindowExtender::CheckExtenderTimerNotify() noexcept {
  HWND wnd = wnd_.load();
  if (check_timer_ == nullptr) return;
  if (wnd == nullptr || !IsWindow(wnd)) {
    check_timer_->SetEnabled(false);
    return;
  }
  DWORD_PTR answer = 0;
  const bool intact = SendMessageTimeoutW(wnd, ServiceMessage(), kServiceAliveCheck, 0,
                                          SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &answer) != 0 &&
                      static_cast<LRESULT>(answer) == kAliveAnswer;
  AliveState state{alive_.answered, alive_.rehooks};
  const AliveStep step = NextAliveStep(state, intact);
  alive_.answered = state.answered;
  alive_.rehooks = state.rehooks;
  switch (step) {
    case AliveStep::KeepChecking:
      return;
    case AliveStep::StopChecking:
      check_timer_->SetEnabled(false);
      return;
    case AliveStep::Rehook:
      check_timer_->SetEnabled(false);
      if (hook_) {
        hook_->RehookWindowFromScratch();
        if (link_ != nullptr) link_->old_proc.store(hook_->OldWndProc());
      }
      check_timer_->SetEnabled(true);
      return;
    case AliveStep::GiveUp:
      check_timer_->SetEnabled(false);
      LogExtensionEvent(L"CheckExtenderTimerNotify", L"[WARNING] Rehook count exceeded");
      return;
  }
}

void WindowExtender::LogExtensionEvent(std::wstring_view operation,
                                       std::wstring_view detail) noexcept {
  if (!hooklib::LibraryEventLogEnabled()) return;
  try {
    std::wstring text = GetParamDefault(L"window_rule_name", L"");
    text += L";" + class_name_ + L";" + Hex8(reinterpret_cast<std::uintptr_t>(wnd_.load())) +
            L";TWindowExtender;";
    text += operation;
    text += L";";
    text += detail;
    hooklib::SendEventLine(text);
  } catch (...) {
  }
}

// ---- Window services ------------------------------------------------------------------

ComPtr<IWindowHandler> WindowExtender::GetWindowHandler() noexcept {
  return ComPtr<IWindowHandler>(static_cast<IWindowHandler*>(this));
}

std::wstring WindowExtender::GetWndClassName() noexcept {
  try {
    return class_name_;
  } catch (...) {
    return {};
  }
}

void WindowExtender::AttachMessageHandler(IMessageHandler* handler) noexcept {
  if (handler == nullptr) return;
  AcquireSRWLockExclusive(&state_lock_);
  handlers_->Add(handler);
  ReleaseSRWLockExclusive(&state_lock_);
}

void WindowExtender::DetachMessageHandler(IMessageHandler* handler) noexcept {
  AcquireSRWLockExclusive(&state_lock_);
  for (int i = handlers_->Count() - 1; i >= 0; --i) {
    if (handlers_->GetItems(i).Get() == handler) {
      handlers_->Delete(Variant{static_cast<std::int32_t>(i)});
      break;
    }
  }
  ReleaseSRWLockExclusive(&state_lock_);
}

ExtenderTimer* WindowExtender::CreateNewTimer() noexcept {
  try {
    return wnd_.load() != nullptr ? timers_.CreateNewTimer() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void WindowExtender::SetProp(std::wstring_view name, UINT_PTR value) noexcept {
  try {
    const int at = properties_.IndexByKey(name);
    if (at >= 0) properties_.Delete(at);
    properties_.Add(value, false, name);
    std::vector<ComPtr<IPropChangeSubscriber>> subscribers;
    prop_subscribers_.ForEach(
        [&](const ComPtr<IPropChangeSubscriber>& s) { subscribers.push_back(s); });
    for (const auto& s : subscribers) {
      if (s) s->OnPropChanged(name, value);
    }
  } catch (...) {
  }
}

UINT_PTR WindowExtender::GetProp(std::wstring_view name, UINT_PTR def_value) noexcept {
  try {
    const UINT_PTR* v = properties_.GetItemsK(name);
    return v ? *v : def_value;
  } catch (...) {
    return def_value;
  }
}

void WindowExtender::RemoveProp(std::wstring_view name) noexcept {
  try {
    const int at = properties_.IndexByKey(name);
    if (at >= 0) properties_.Delete(at);
  } catch (...) {
  }
}

void WindowExtender::PropChangeSubscribe(IPropChangeSubscriber* subscriber) noexcept {
  if (subscriber == nullptr) return;
  try {
    prop_subscribers_.Add(ComPtr<IPropChangeSubscriber>(subscriber), true);
  } catch (...) {
  }
}

void WindowExtender::PropChangeUnsubscribe(IPropChangeSubscriber* subscriber) noexcept {
  try {
    for (int i = prop_subscribers_.Count() - 1; i >= 0; --i) {
      if (prop_subscribers_.EntryAt(i)->value.Get() == subscriber) {
        prop_subscribers_.Delete(i);
        return;
      }
    }
  } catch (...) {
  }
}

void WindowExtender::Subscribe(std::wstring_view name, IServerMessageReceiver* receiver) noexcept {
  if (receiver == nullptr) return;
  try {
    server_subscribers_.Add(ComPtr<IServerMessageReceiver>(receiver), false, name);
  } catch (...) {
  }
}

void WindowExtender::Unsubscribe(std::wstring_view name) noexcept {
  try {
    const int at = server_subscribers_.IndexByKey(name);
    if (at >= 0) server_subscribers_.Delete(at);
  } catch (...) {
  }
}

void WindowExtender::Unsubscribe(IServerMessageReceiver* receiver) noexcept {
  try {
    for (int i = server_subscribers_.Count() - 1; i >= 0; --i) {
      if (server_subscribers_.EntryAt(i)->value.Get() == receiver) server_subscribers_.Delete(i);
    }
  } catch (...) {
  }
}

void WindowExtender::OnMessageFromServer(HWND, std::wstring_view receiver, int command_code,
                                         std::string_view command_data) noexcept {
  if (receiver.empty()) return;
  try {
    ComPtr<IServerMessageReceiver> target;
    if (const auto* found = server_subscribers_.GetItemsK(receiver)) target = *found;
    if (target) target->OnServerMessage(command_code, command_data);
  } catch (...) {
  }
}

void WindowExtender::SetTargetRectForDPIChange(const RECT& rc) noexcept {
  target_rect_ = rc;
  target_rect_valid_ = true;
}

}  // namespace vm::framework
