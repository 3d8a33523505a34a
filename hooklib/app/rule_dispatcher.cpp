#include "hooklib/app/rule_dispatcher.h"

#include <algorithm>
#include <cwchar>
#include <set>

#include "common/control_program.h"
#include "common/critical_section_lock.h"
#include "common/shared_names.h"
#include "hooklib/app/pattern_library.h"
#include "hooklib/app/window_info.h"
#include "hooklib/app/window_props.h"
#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/library.h"
#include "hooklib/core/thread_hooks.h"
#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/window_extender.h"
#include "hooklib/messenger/event_line.h"
#include "hooklib/messenger/messenger_interfaces.h"

namespace vm::hooklib {
namespace {

using framework::IWindowExtender;
using framework::IWindowHandler;
using framework::Variant;

using Lock = CriticalSectionLock;

// Registered at start-up by the modules that own them; read on hook paths.
SRWLOCK g_callbacks_lock = SRWLOCK_INIT;
std::vector<VisibilityCallback>* g_visibility_callbacks = nullptr;
std::vector<ToolboxCriterion>* g_toolbox_criteria = nullptr;

UINT ServiceMessage() noexcept { return Names().service; }

const wchar_t* CrcProp() noexcept { return MAKEINTATOM(Names().rule_crc); }
const wchar_t* CrcValidProp() noexcept { return MAKEINTATOM(Names().rule_crc_valid); }

void SetCrcProps(HWND wnd, std::uint32_t crc) noexcept {
  if (Names().rule_crc == 0 || Names().rule_crc_valid == 0) return;
  SetWindowPropEx(wnd, CrcProp(), reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(crc)));
  SetWindowPropEx(wnd, CrcValidProp(), reinterpret_cast<HANDLE>(1));
}

void RemoveCrcProps(HWND wnd) noexcept {
  if (Names().rule_crc != 0) RemoveWindowPropEx(wnd, CrcProp());
  if (Names().rule_crc_valid != 0) RemoveWindowPropEx(wnd, CrcValidProp());
}

std::wstring FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

// The caption; a window of another thread is asked with a bound, so a hung
// window costs at most that.
std::wstring CaptionOf(HWND wnd) {
  wchar_t text[512] = {};
  if (GetWindowThreadProcessId(wnd, nullptr) == GetCurrentThreadId()) {
    const int n = GetWindowTextW(wnd, text, 512);
    return std::wstring(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(wnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, kCaptionTimeoutMs, &copied)) {
    return {};
  }
  return std::wstring(text, std::min<std::size_t>(copied, 511));
}

bool SameProcess(HWND wnd) noexcept {
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  return pid == GetCurrentProcessId();
}

bool IsMdiChildWindow(HWND wnd) noexcept {
  const LONG_PTR style = GetWindowLongPtrW(wnd, GWL_STYLE);
  const LONG_PTR ex_style = GetWindowLongPtrW(wnd, GWL_EXSTYLE);
  return (ex_style & WS_EX_MDICHILD) != 0 ||
         ((style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION && !(style & WS_POPUP));
}

void TellWindow(HWND wnd, WPARAM code, LPARAM lparam) noexcept {
  if (CurrentHookModes().get_message_only) {
    PostMessageW(wnd, ServiceMessage(), code, lparam);
  } else {
    SendNotifyMessageW(wnd, ServiceMessage(), code, lparam);
  }
}

std::wstring RuleNameOf(IWindowExtender* extender) {
  ComPtr<IWindowHandler> handler;
  if (extender == nullptr || FAILED(extender->QueryInterface(__uuidof(IWindowHandler), &handler)))
    return {};
  return handler->GetParamDefault(L"window_rule_name", L"");
}

}  // namespace

// ---- Registries of other modules ------------------------------------------------

bool RegisterVisibilityCallback(VisibilityCallback callback) noexcept {
  if (callback == nullptr) return false;
  AcquireSRWLockExclusive(&g_callbacks_lock);
  bool ok = true;
  try {
    if (!g_visibility_callbacks) g_visibility_callbacks = new std::vector<VisibilityCallback>();
    g_visibility_callbacks->push_back(callback);
  } catch (...) {
    ok = false;
  }
  ReleaseSRWLockExclusive(&g_callbacks_lock);
  return ok;
}

void UnregisterVisibilityCallback(VisibilityCallback callback) noexcept {
  AcquireSRWLockExclusive(&g_callbacks_lock);
  if (g_visibility_callbacks) std::erase(*g_visibility_callbacks, callback);
  ReleaseSRWLockExclusive(&g_callbacks_lock);
}

bool RegisterToolboxCriterion(const ToolboxCriterion& criterion) noexcept {
  if (criterion.is_proper_window == nullptr || criterion.toolbox_class_name == nullptr)
    return false;
  AcquireSRWLockExclusive(&g_callbacks_lock);
  bool ok = true;
  try {
    if (!g_toolbox_criteria) g_toolbox_criteria = new std::vector<ToolboxCriterion>();
    g_toolbox_criteria->push_back(criterion);
  } catch (...) {
    ok = false;
  }
  ReleaseSRWLockExclusive(&g_callbacks_lock);
  return ok;
}

void UnregisterToolboxCriterion(const ToolboxCriterion& criterion) noexcept {
  AcquireSRWLockExclusive(&g_callbacks_lock);
  if (g_toolbox_criteria) {
    std::erase_if(*g_toolbox_criteria, [&](const ToolboxCriterion& c) {
      return c.is_proper_window == criterion.is_proper_window;
    });
  }
  ReleaseSRWLockExclusive(&g_callbacks_lock);
}

// ---- Construction ---------------------------------------------------------------------

RuleDispatcher::RuleDispatcher() : AbstractPlugin(kRuleDispatcherName) {
  extenders_ = framework::MakeCom<framework::WindowExtenders>();
  if (!extenders_) throw std::bad_alloc();
  for (CRITICAL_SECTION* cs :
       {&extenders_lock_, &window_list_lock_, &captions_lock_, &params_lock_, &mapping_lock_}) {
    InitializeCriticalSection(cs);
  }
  framework::EnsureWindowExtenderClass();
}

RuleDispatcher::~RuleDispatcher() {
  for (HWND wnd : window_list_) {
    if (IsWindow(wnd)) RemoveCrcProps(wnd);
  }
  for (CRITICAL_SECTION* cs :
       {&extenders_lock_, &window_list_lock_, &captions_lock_, &params_lock_, &mapping_lock_}) {
    DeleteCriticalSection(cs);
  }
}

void* RuleDispatcher::FindInterface(REFIID riid) noexcept {
  if (void* found = framework::FindInterfaceIn<framework::IWindowExtenderOwner,
                                               framework::IServerMessageRedirector>(this, riid)) {
    return found;
  }
  return AbstractPlugin::FindInterface(riid);
}

ComPtr<IPlugin> CreateRuleDispatcher() noexcept {
  ComPtr<RuleDispatcher> dispatcher = framework::MakeCom<RuleDispatcher>();
  if (!dispatcher) return nullptr;
  return ComPtr<IPlugin>(static_cast<IPlugin*>(dispatcher.Get()));
}

bool EnsureRuleDispatcherPlugin() noexcept {
  static const bool registered = RegisterPluginFactory(&CreateRuleDispatcher);
  return registered;
}

namespace {
// Registered while the library's modules are initialised, before the
// application is made.
const bool g_dispatcher_registered = EnsureRuleDispatcherPlugin();
}  // namespace

// ---- Shared memory ----------------------------------------------------------------------

std::shared_ptr<const MappingView> RuleDispatcher::RuleTable() noexcept {
  Lock lock(mapping_lock_);
  return table_;
}

std::shared_ptr<const MappingView> RuleDispatcher::ServiceBlock() noexcept {
  Lock lock(mapping_lock_);
  return service_;
}

bool RuleDispatcher::ReadSettings() noexcept {
  std::shared_ptr<const MappingView> service = ServiceBlock();
  if (!service) {
    service = MappingView::OpenServiceBlock();
    if (!service) return false;
    Lock lock(mapping_lock_);
    service_ = service;
  }
  const auto bytes = service->Bytes();
  ProcessPatternLibrary().SetProductFolderFromServiceBlock(bytes.data(), bytes.size());
  SetLibraryEventLogEnabled(service->Read32(control::kServiceEventLogOffset).value_or(0) != 0);
  return true;
}

bool RuleDispatcher::LoadRuleTable() noexcept {
  std::shared_ptr<const MappingView> service = ServiceBlock();
  if (service) {
    const std::uint32_t id = service->Read32(control::kServiceRuleTableIdOffset).value_or(0);
    if (id != 0) {
      // Only a valid block replaces the table in force.
      if (auto table = MappingView::OpenRuleTable(id)) {
        Lock lock(mapping_lock_);
        table_ = std::move(table);
      }
    }
  }
  return RuleTable() != nullptr;
}

void RuleDispatcher::Publish() noexcept { SetProcessHook(static_cast<ProcessHook*>(this)); }

// ---- The plug-in ----------------------------------------------------------------------------

void RuleDispatcher::Init(framework::IItem* owner) noexcept {
  AbstractPlugin::Init(owner);
  if (auto service = MappingView::OpenServiceBlock()) {
    Lock lock(mapping_lock_);
    service_ = std::move(service);
  }
  if (!ServiceBlock() || !ReadSettings()) return;
  if (LoadRuleTable()) {
    Publish();
    active_.store(true);
  }
}

void RuleDispatcher::Done() noexcept {
  std::vector<ComPtr<IWindowExtender>> all;
  {
    Lock lock(extenders_lock_);
    for (int i = 0; i < extenders_->Count(); ++i) all.push_back(extenders_->GetItemByIndex(i));
    extenders_->Clear();
    extended_keys_.clear();
    RebuildExtendedBits();
  }
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (!*it) continue;
    (*it)->RequestExclusiveAccess();
    (*it)->Unbind();
    (*it)->Done();  // lets go of the window: it keeps its own procedure
    (*it)->ReleaseExclusiveAccess();
  }
  active_.store(false);
  if (GetProcessHook().Get() == static_cast<ProcessHook*>(this)) SetProcessHook(nullptr);
  ProcessPatternLibrary().Done();
  {
    Lock lock(mapping_lock_);
    table_.reset();
    service_.reset();
  }
  AbstractPlugin::Done();
}

void RuleDispatcher::OnMessageFromServer(int command_code, std::string_view command_data) noexcept {
  using control::PluginCommand;
  try {
    switch (static_cast<PluginCommand>(command_code)) {
      case PluginCommand::RuleTableChanged:
        if (LoadRuleTable() && active_.load()) RecheckAllWindows();
        return;
      case PluginCommand::MainUnregistered: {
        active_.store(false);
        {
          Lock lock(mapping_lock_);
          table_.reset();
        }
        WithdrawAll();
        PurgeDeadWindows();
        return;
      }
      case PluginCommand::OptionChanged:
        if (command_data == control::kOptionEventLogEnabled) {
          ReadSettings();
        } else if (command_data == control::kOptionFoliantEnabled &&
                   CurrentProcessFlags().explorer) {
          RecheckAllWindows();
        }
        return;
      case PluginCommand::MainRegistered:
        if (!ReadSettings()) return;
        if (!RuleTable()) {
          if (!LoadRuleTable()) return;
        }
        Publish();
        active_.store(true);
        RecheckAllWindows();
        return;
      case PluginCommand::LibraryUnloading: {
        Lock lock(mapping_lock_);
        service_.reset();
      }
        SetThreadDetachCallbackEnabled(false);
        if (ThreadHookList* list = CurrentThreadHooks()) list->Clear();
        return;
      default:
        return;
    }
  } catch (...) {
  }
}

void RuleDispatcher::OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                         int command_code, std::string_view command_data) noexcept {
  ComPtr<IWindowExtender> extender = ExtenderOf(receiver_wnd);
  ComPtr<framework::IServerMessageRedirector> redirector;
  if (extender && SUCCEEDED(extender.As(&redirector))) {
    redirector->OnMessageFromServer(receiver_wnd, receiver, command_code, command_data);
  }
}

// ---- Lists ---------------------------------------------------------------------------------

bool RuleDispatcher::InWindowList(HWND wnd) noexcept {
  Lock lock(window_list_lock_);
  return std::find(window_list_.begin(), window_list_.end(), wnd) != window_list_.end();
}

bool RuleDispatcher::IsRegistered(HWND wnd) noexcept { return InWindowList(wnd); }

std::size_t RuleDispatcher::RegisteredCount() noexcept {
  Lock lock(window_list_lock_);
  return window_list_.size();
}

std::size_t RuleDispatcher::CaptionEntryCount() noexcept {
  Lock lock(captions_lock_);
  return captions_.size();
}

int RuleDispatcher::CaptionChangeCount(HWND wnd) noexcept {
  Lock lock(captions_lock_);
  auto it = captions_.find(wnd);
  return it == captions_.end() ? -1 : it->second.change_count;
}

std::uint32_t RuleDispatcher::RuleTableId() noexcept {
  auto table = RuleTable();
  return table ? table->Id() : 0;
}

std::wstring RuleDispatcher::ListProblems() noexcept {
  std::wstring out;
  try {
    const framework::Handles extended = GetExtendedWindowsList();
    std::vector<HWND> listed;
    std::size_t unbinding = 0;
    {
      Lock lock(window_list_lock_);
      listed = window_list_;
      unbinding = unbinding_.size();
    }
    for (HWND w : extended) {
      if (!IsWindow(w)) out += L"extender of a dead window; ";
      if (std::find(listed.begin(), listed.end(), w) == listed.end())
        out += L"extender of an unregistered window; ";
      if (HasWindowParams(w)) out += L"parameters waiting for an extended window; ";
    }
    std::sort(listed.begin(), listed.end());
    if (std::adjacent_find(listed.begin(), listed.end()) != listed.end())
      out += L"a window listed twice; ";
    if (unbinding != 0) out += L"windows left unbinding; ";
    Lock lock(captions_lock_);
    for (const auto& entry : captions_) {
      if (!IsWindow(entry.first)) {
        out += L"caption entry of a dead window; ";
        break;
      }
    }
  } catch (...) {
    out += L"out of memory; ";
  }
  return out;
}

bool RuleDispatcher::WindowIsUnbinding(HWND wnd) noexcept {
  Lock lock(window_list_lock_);
  return std::find(unbinding_.begin(), unbinding_.end(), wnd) != unbinding_.end();
}

bool RuleDispatcher::HasWindowParams(HWND wnd) noexcept {
  Lock lock(params_lock_);
  return std::any_of(params_.begin(), params_.end(), [&](const auto& e) { return e.first == wnd; });
}

std::wstring RuleDispatcher::TakePendingParams(HWND wnd, bool remove) {
  Lock lock(params_lock_);
  auto it =
      std::find_if(params_.begin(), params_.end(), [&](const auto& e) { return e.first == wnd; });
  if (it == params_.end()) return {};
  std::wstring params = it->second;
  if (remove) params_.erase(it);
  return params;
}

void RuleDispatcher::SetPendingParams(HWND wnd, std::wstring params) {
  Lock lock(params_lock_);
  auto it =
      std::find_if(params_.begin(), params_.end(), [&](const auto& e) { return e.first == wnd; });
  if (it != params_.end()) {
    it->second = std::move(params);
  } else {
    params_.emplace_back(wnd, std::move(params));
  }
}

void RuleDispatcher::RemovePendingParams(HWND wnd) {
  Lock lock(params_lock_);
  std::erase_if(params_, [&](const auto& e) { return e.first == wnd; });
}

namespace {
unsigned BucketOf(HWND wnd) noexcept {
  return (framework::WindowHash(wnd) * 2654435761u) >> 24;  // 0..255
}
}  // namespace

bool RuleDispatcher::MayBeExtended(HWND wnd) const noexcept {
  const unsigned bucket = BucketOf(wnd);
  return (extended_bits_[bucket >> 6].load(std::memory_order_acquire) >> (bucket & 63)) & 1;
}

void RuleDispatcher::NoteExtended(HWND wnd) noexcept {
  try {
    extended_keys_.push_back(wnd);
  } catch (...) {
    // Without its key the bit below still holds; a later rebuild may drop
    // it, and then the hooks miss this window's extender until it closes.
  }
  const unsigned bucket = BucketOf(wnd);
  extended_bits_[bucket >> 6].fetch_or(std::uint64_t{1} << (bucket & 63),
                                       std::memory_order_acq_rel);
}

void RuleDispatcher::RebuildExtendedBits() noexcept {
  std::array<std::uint64_t, 4> bits{};
  for (HWND w : extended_keys_) {
    const unsigned bucket = BucketOf(w);
    bits[bucket >> 6] |= std::uint64_t{1} << (bucket & 63);
  }
  for (std::size_t i = 0; i < bits.size(); ++i)
    extended_bits_[i].store(bits[i], std::memory_order_release);
}

bool RuleDispatcher::IsWindowExtended(HWND wnd) noexcept {
  if (!MayBeExtended(wnd)) return false;
  Lock lock(extenders_lock_);
  return extenders_->GetItemIndexByWnd(wnd) >= 0;
}

ComPtr<IWindowExtender> RuleDispatcher::ExtenderOf(HWND wnd) noexcept {
  if (!MayBeExtended(wnd)) return nullptr;
  Lock lock(extenders_lock_);
  return extenders_->GetItemByWnd(wnd);
}

ComPtr<ExtenderHooks> RuleDispatcher::GetWindowExtender(HWND wnd) noexcept {
  ComPtr<IWindowExtender> extender = ExtenderOf(wnd);
  auto* own = dynamic_cast<framework::WindowExtender*>(extender.Get());
  return own ? ComPtr<ExtenderHooks>(static_cast<ExtenderHooks*>(own)) : nullptr;
}

framework::Handles RuleDispatcher::GetExtendedWindowsList() noexcept {
  framework::Handles out;
  try {
    Lock lock(extenders_lock_);
    for (int i = 0; i < extenders_->Count(); ++i) {
      if (auto e = extenders_->GetItemByIndex(i)) out.push_back(e->GetWnd());
    }
  } catch (...) {
  }
  return out;
}

void RuleDispatcher::SendToControlProgram(int code, const std::string& data) noexcept {
  if (ComPtr<IMessengerClient> client = CurrentMessengerClient()) {
    client->SendMessage(std::wstring_view(), code, std::string_view(data), 0, nullptr,
                        framework::siMain);
  }
}

// ---- Registration and matching ---------------------------------------------------------------

void RuleDispatcher::RegisterWindow(HWND wnd, ExtensionReason reason) noexcept {
  try {
    std::shared_ptr<const MappingView> table = RuleTable();
    if (!table || wnd == nullptr) return;
    const bool caption_changed = reason == ExtensionReason::CaptionChanged;
    const bool listed = InWindowList(wnd);
    if (listed && !caption_changed && HasWindowParams(wnd)) return;
    if (!listed) {
      {
        Lock lock(window_list_lock_);
        window_list_.push_back(wnd);
      }
      std::wstring caption = CaptionOf(wnd);
      if (!caption.empty()) {
        Lock lock(captions_lock_);
        captions_[wnd] = CaptionData{std::move(caption), 0, GetTickCount(), 0};
      }
    }
    const int kind = caption_changed ? 15 : 1;
    WindowInfo info = FillWindowInfo(wnd, false);
    const MatchResult match = MatchWindowRule(info, table->Bytes(), ProcessMatchContext());
    std::string log_data;
    if (CurrentMessengerClient() && match.info.rule_type != RuleType::None &&
        (!listed || caption_changed || !match.params.empty())) {
      log_data = PackRuleReport(info, match.info);
    }
    ApplyMatch(kind, info, match.params, match.info, log_data);
  } catch (...) {
  }
}

void RuleDispatcher::ApplyMatch(int kind, const WindowInfo& info, const std::string& params,
                                const RuleInfo& rule, const std::string& log_data) noexcept {
  try {
    HWND wnd = reinterpret_cast<HWND>(info.wnd);
    if (!IsWindow(wnd)) {
      UnregisterWindow(wnd, unreg::kNoLongerExists);
      return;
    }
    if (kind == 1) {
      if (!params.empty()) {
        SetCrcProps(wnd, rule.params_crc);
        if (info.window_class == "NOTES") Sleep(150);
        SetPendingParams(wnd, FromAnsi(params));
      } else {
        RemoveCrcProps(wnd);
      }
      if (!log_data.empty()) {
        SendToControlProgram(static_cast<int>(control::ClientCommand::WindowGotRule), log_data);
      }
      return;
    }
    if (kind != 15) return;
    const std::string next = rule.rule_type != RuleType::Exclusion && rule.enabled
                                 ? rule.name.value_or(std::string())
                                 : std::string();
    ComPtr<IWindowExtender> extender = ExtenderOf(wnd);
    const std::string current = extender ? ToAnsi(RuleNameOf(extender.Get())) : std::string();
    const CaptionRuleDecision decision = DecideCaptionRule(next, current);
    if (decision.no_more_checks) {
      Lock lock(captions_lock_);
      captions_[wnd].change_count = kNoMoreCaptionChecks;
    }
    if (decision.stop) return;
    if (extender) {
      OnClose(extender.Get(), unreg::kCaptionRule);
    } else {
      RemovePendingParams(wnd);
    }
    SetPendingParams(wnd, FromAnsi(params));
    SetCrcProps(wnd, rule.params_crc);
    if (!log_data.empty()) {
      SendToControlProgram(static_cast<int>(control::ClientCommand::RuleByCaption), log_data);
    }
  } catch (...) {
  }
}

void RuleDispatcher::CheckVisibleWindow(HWND wnd, bool ignore_visibility) noexcept {
  try {
    bool visible = ignore_visibility || IsWindowVisible(wnd);
    if (!visible) {
      std::vector<VisibilityCallback> callbacks;
      AcquireSRWLockShared(&g_callbacks_lock);
      if (g_visibility_callbacks) callbacks = *g_visibility_callbacks;
      ReleaseSRWLockShared(&g_callbacks_lock);
      for (VisibilityCallback cb : callbacks) {
        if (cb(wnd)) {
          visible = true;
          break;
        }
      }
    }
    if (!visible) return;
    std::wstring params = TakePendingParams(wnd, false);
    if (params.empty()) return;
    std::vector<ToolboxCriterion> criteria;
    AcquireSRWLockShared(&g_callbacks_lock);
    if (g_toolbox_criteria) criteria = *g_toolbox_criteria;
    ReleaseSRWLockShared(&g_callbacks_lock);
    for (const ToolboxCriterion& c : criteria) {
      if (c.is_proper_window(wnd)) {
        params += L"\\toolbox=";
        params += c.toolbox_class_name;
        break;
      }
    }
    RemovePendingParams(wnd);
    CreateExtender(wnd, params);
  } catch (...) {
  }
}

void RuleDispatcher::CreateExtender(HWND wnd, const std::wstring& params) noexcept {
  ComPtr<IWindowExtender> created;
  try {
    Lock lock(extenders_lock_);
    if (extenders_->GetItemIndexByWnd(wnd) < 0) {
      ComPtr<framework::IItem> item =
          framework::CreateItem(framework::kWindowExtenderClassName, params);
      ComPtr<IWindowExtender> extender;
      if (item && SUCCEEDED(item.As(&extender))) {
        extenders_->AddByWnd(extender.Get(), wnd);
        NoteExtended(wnd);
        created = extender;
      }
    }
  } catch (...) {
  }
  if (created) {
    created->RequestExclusiveAccess();
    created->Init(static_cast<framework::IWindowExtenderOwner*>(this));
    created->Bind();
    created->AttachWindow(wnd);
    created->ReleaseExclusiveAccess();
    created.Reset();
  }
  PurgeDeadWindows();
}

void RuleDispatcher::PurgeDeadWindows() noexcept {
  try {
    std::vector<HWND> dead;
    {
      Lock lock(extenders_lock_);
      for (int i = extenders_->Count() - 1; i >= 0; --i) {
        ComPtr<IWindowExtender> e = extenders_->GetItemByIndex(i);
        HWND w = e ? e->GetWnd() : nullptr;
        if (w != nullptr && !IsWindow(w)) dead.push_back(w);
      }
    }
    // After leaving the extender lock: unregistering takes the other locks.
    for (HWND w : dead) UnregisterWindow(w, unreg::kNoLongerExists);
    Lock lock(captions_lock_);
    std::erase_if(captions_, [](const auto& entry) { return !IsWindow(entry.first); });
  } catch (...) {
  }
}

// ---- Closing -----------------------------------------------------------------------------------

void RuleDispatcher::OnClose(IWindowExtender* extender, int unreg_kind) noexcept {
  if (extender == nullptr) return;
  try {
    ComPtr<IWindowExtender> keep(extender);
    HWND wnd = extender->GetWnd();
    bool registered = false;
    {
      Lock lock(window_list_lock_);
      if (std::find(unbinding_.begin(), unbinding_.end(), wnd) == unbinding_.end())
        unbinding_.push_back(wnd);
      registered = unreg_kind != unreg::kCaptionRule &&
                   std::find(window_list_.begin(), window_list_.end(), wnd) != window_list_.end();
    }
    {
      Lock lock(extenders_lock_);
      if (extenders_->GetItemByWnd(wnd).Get() == extender) {
        extenders_->DeleteByWnd(wnd);
        std::erase(extended_keys_, wnd);
        RebuildExtendedBits();
      }
    }
    extender->RequestExclusiveAccess();
    extender->DetachWindow();
    extender->Unbind();
    extender->Done();
    extender->ReleaseExclusiveAccess();
    if (registered) UnregisterWindow(wnd, unreg_kind);
    Lock lock(window_list_lock_);
    std::erase(unbinding_, wnd);
  } catch (...) {
  }
}

void RuleDispatcher::UnregisterWindow(HWND wnd, int unreg_kind) noexcept {
  try {
    if (ComPtr<IWindowExtender> extender = ExtenderOf(wnd)) {
      // Inside its window procedure the extender closes itself (its detach
      // handling retries).
      if (extender->WindowProcNestingCount() == 0) OnClose(extender.Get(), unreg_kind);
      return;
    }
    {
      Lock lock(captions_lock_);
      captions_.erase(wnd);
    }
    {
      Lock lock(window_list_lock_);
      if (std::find(unbinding_.begin(), unbinding_.end(), wnd) == unbinding_.end())
        unbinding_.push_back(wnd);
      std::erase(window_list_, wnd);
    }
    RemovePendingParams(wnd);
    if (IsWindow(wnd)) RemoveCrcProps(wnd);
    {
      Lock lock(window_list_lock_);
      std::erase(unbinding_, wnd);
    }
    if (unreg_kind == unreg::kRuleChanged && IsWindow(wnd)) {
      ProcessWindowCandidate(wnd, ExtensionReason::Default, ServiceMessage(), true);
    }
  } catch (...) {
  }
}

// ---- Caption changes -----------------------------------------------------------------------

void RuleDispatcher::OnCaptionChanged(HWND wnd, UINT msg, LPARAM lparam) noexcept {
  try {
    if (!active_.load() || wnd == nullptr || !IsWindowCandidate(wnd) || !InWindowList(wnd)) return;
    if (Names().no_rematch_on_caption != 0 &&
        GetWindowPropEx(wnd, MAKEINTATOM(Names().no_rematch_on_caption)) != nullptr) {
      return;
    }
    bool have_entry = false;
    bool read = false;
    {
      Lock lock(captions_lock_);
      auto it = captions_.find(wnd);
      if (it != captions_.end()) {
        have_entry = true;
        if (msg != WM_SETTEXT) {
          if (!MayReadCaption(it->second, GetTickCount())) return;
          read = true;
        }
      } else {
        captions_[wnd] = CaptionData{std::wstring(), 1, GetTickCount(), 0};
      }
    }
    bool rematch = !have_entry;
    if (have_entry) {
      std::wstring caption;
      if (read) {
        caption = CaptionOf(wnd);
      } else if (lparam != 0) {
        if (IsWindowUnicode(wnd)) {
          const auto* text = reinterpret_cast<const wchar_t*>(lparam);
          caption.assign(text, wcsnlen(text, 32767));
        } else {
          // The text may be ANSI: the window has taken it by now, so it is
          // read back rather than guessed at.
          caption = CaptionOf(wnd);
        }
      }
      // WM_SETTEXT with a null text is legal: it reads as an empty caption.
      if (caption.empty()) return;
      const bool always =
          CurrentProcessFlags().shell_experience && CurrentWindowsVersion().win10_or_later;
      Lock lock(captions_lock_);
      auto it = captions_.find(wnd);
      if (it == captions_.end()) return;  // unregistered meanwhile
      rematch = TakeNewCaption(it->second, caption, always);
    }
    // The caption lock is left before the window is matched again.
    if (rematch) ProcessWindowCandidate(wnd, ExtensionReason::CaptionChanged, msg, false);
  } catch (...) {
  }
}

// ---- Re-checks
// -----------------------------------------------------------------------------------

RuleInfo RuleDispatcher::GetWindowRuleInfo(HWND wnd) noexcept {
  std::shared_ptr<const MappingView> table = RuleTable();
  if (!table) return {};
  return MatchWindowRule(FillWindowInfo(wnd, false), table->Bytes(), ProcessMatchContext()).info;
}

void RuleDispatcher::RecheckWindow(HWND wnd, bool force) noexcept {
  try {
    if (wnd == nullptr || !IsWindow(wnd)) return;
    const bool had = Names().rule_crc_valid != 0 && GetWindowPropEx(wnd, CrcValidProp()) != nullptr;
    const auto stored = Names().rule_crc != 0
                            ? static_cast<std::uint32_t>(
                                  reinterpret_cast<std::uintptr_t>(GetWindowPropEx(wnd, CrcProp())))
                            : 0u;
    switch (DecideRecheck(had, stored, GetWindowRuleInfo(wnd), force)) {
      case RecheckAction::Withdraw:
        TellWindow(wnd, service::kUnregister, unreg::kRuleWentAway);
        return;
      case RecheckAction::Rematch:
        TellWindow(wnd, service::kUnregister, unreg::kRuleChanged);
        return;
      case RecheckAction::Check:
        TellWindow(wnd, service::kCheckCandidate, 0);
        return;
      case RecheckAction::Nothing:
        return;
    }
  } catch (...) {
  }
}

framework::Handles RuleDispatcher::CollectWindows() noexcept {
  struct Collector {
    RuleDispatcher* self;
    std::set<HWND> extended;
    std::set<HWND> seen;
    framework::Handles out;
    void Visit(HWND w, bool child_mode) {
      if (child_mode && !IsMdiChildWindow(w)) return;
      if (!SameProcess(w) || !IsWindowCandidate(w)) return;
      if (extended.count(w) == 0 && !IsWindowVisible(w)) return;
      if (seen.insert(w).second) out.push_back(w);
    }
  };
  Collector c{this, {}, {}, {}};
  try {
    for (HWND w : GetExtendedWindowsList()) c.extended.insert(w);
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          auto* col = reinterpret_cast<Collector*>(p);
          try {
            col->Visit(w, false);
            EnumChildWindows(
                w,
                [](HWND child, LPARAM q) -> BOOL {
                  try {
                    reinterpret_cast<Collector*>(q)->Visit(child, true);
                  } catch (...) {
                  }
                  return TRUE;
                },
                p);
          } catch (...) {
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&c));
    // Extended windows the enumeration did not reach (another desktop, a
    // window being re-parented) are checked as well.
    for (HWND w : c.extended) {
      if (c.seen.count(w) == 0 && IsWindow(w) && SameProcess(w) && c.seen.insert(w).second)
        c.out.push_back(w);
    }
  } catch (...) {
  }
  return c.out;
}

void RuleDispatcher::RecheckAllWindows() noexcept {
  for (HWND w : CollectWindows()) RecheckWindow(w, false);
}

void RuleDispatcher::WithdrawAll() noexcept {
  const framework::Handles windows = GetExtendedWindowsList();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    HWND w = *it;
    if (CurrentHookModes().get_message_only) {
      PostMessageW(w, ServiceMessage(), service::kUnregister, unreg::kWithdrawAll);
    } else if (Names().noninvasive != 0 && GetPropW(w, MAKEINTATOM(Names().noninvasive))) {
      DWORD_PTR answer = 0;
      SendMessageTimeoutW(w, ServiceMessage(), service::kUnregister, unreg::kWithdrawAll,
                          SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &answer);
    } else {
      SendNotifyMessageW(w, ServiceMessage(), service::kUnregister, unreg::kWithdrawAll);
    }
  }
}

}  // namespace vm::hooklib
