#include "hooklib/framework/action.h"

#include <exception>
#include <new>

#include "common/shared_names.h"
#include "hooklib/framework/action_rules.h"
#include "hooklib/framework/operation.h"
#include "hooklib/framework/param_text.h"
#include "hooklib/framework/text_case.h"
#include "hooklib/messenger/event_line.h"

namespace vm::framework {
namespace {

bool ContextFlag(IAgent* context, std::wstring_view name) noexcept {
  if (context == nullptr) return false;
  return VariantToBool(context->GetContextParam(name, Variant{false}), false);
}

std::wstring AnsiToWide(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  }
  return out;
}

std::wstring Hex8(std::uintptr_t value) {
  wchar_t text[16] = {};
  swprintf(text, 16, L"%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
  return text;
}

// The one IUnknown of an object, for comparing references that may come
// through different interfaces.
ComPtr<IUnknown> IdentityOf(IUnknown* object) noexcept {
  ComPtr<IUnknown> identity;
  if (object != nullptr) object->QueryInterface(IID_PPV_ARGS(&identity));
  return identity;
}

std::wstring ExceptionText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    const char* what = e.what();
    return AnsiToWide(what != nullptr ? std::string_view(what) : std::string_view());
  } catch (...) {
    return L"unknown exception";
  }
}

}  // namespace

// ---- Construction ------------------------------------------------------------------

void Action::InitInstance() {
  logging_policy_ = lpSuccessfulOnly;
  operations_ = MakeCom<Operations>();
  if (!operations_) throw std::bad_alloc();
  InitOperations();
  if (current_) last_applied_operation_name_ = current_->GetName();
  ComPtr<Publisher> publisher = MakeCom<Publisher>();
  if (!publisher) throw std::bad_alloc();
  publisher_ = publisher;
}

void Action::SetParam(std::wstring_view name, const Variant& value) {
  if (name != L"localized_params") {
    AbstractSlave::SetParam(name, value);
    return;
  }
  const std::wstring hex = VariantToString(value);
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  for (const LocalizedPair& pair : ParseLocalizedPairs(HexToBytes<wchar_t>(hex))) {
    pairs.emplace_back(AnsiToWide(pair.first), AnsiToWide(pair.second));
  }
  localized_params_ = std::move(pairs);
  for (int i = 0; i < operations_->Count(); ++i) {
    ComPtr<IOperation> op = operations_->GetItems(Variant{static_cast<std::int32_t>(i)});
    if (!op) continue;
    const std::wstring key = op->GetName() + L"_Caption";
    for (const auto& [k, v] : localized_params_) {
      if (EqualsIgnoreCase(k, key)) {
        op->SetCaption(v);
        break;
      }
    }
  }
}

ComPtr<IOperation> Action::AddOperation(std::wstring_view name, std::wstring_view caption) {
  ComPtr<Operation> op = MakeCom<Operation>(name);
  if (!op) throw std::bad_alloc();
  op->SetCaption(caption);
  return operations_->Add(op.Get());
}

// ---- Life cycle ------------------------------------------------------------------

void Action::Init(IItem* owner) noexcept {
  ComPtr<IWindowPartOwner> part_owner;
  if (owner != nullptr) owner->QueryInterface(IID_PPV_ARGS(&part_owner));
  part_owner_ = part_owner;
  owner_ = part_owner ? ComPtr<IItem>(static_cast<IItem*>(part_owner.Get())) : nullptr;
  if (publisher_) publisher_->Init(static_cast<IItem*>(static_cast<IAction*>(this)));
}

void Action::Done() noexcept {
  if (publisher_) publisher_->Done();
  last_applied_context_.Reset();
  part_owner_.Reset();
  owner_.Reset();
}

void Action::DetachWindow() noexcept {
  try {
    ClosePopupMenu();
  } catch (...) {
  }
  attached_ = false;
}

ComPtr<IWindowHandler> Action::WindowHandler() const noexcept {
  return part_owner_ ? part_owner_->GetWindowHandler() : nullptr;
}

HWND Action::Wnd() const noexcept {
  ComPtr<IWindowHandler> handler = WindowHandler();
  return handler ? handler->GetWnd() : nullptr;
}

void Action::Publish() noexcept {
  if (publisher_) publisher_->OnUpdate();
}

// ---- Operations ------------------------------------------------------------------

void Action::SetEnabled(bool new_value) noexcept {
  if (disabled_ == !new_value) return;
  disabled_ = !new_value;
  Publish();
}

bool Action::ApplyOperation(std::wstring_view, IAgent*) { return true; }

void Action::SetCurrentOperation(std::wstring_view operation_name, IAgent* context) {
  current_.Reset();
  next_.Reset();
  const int at = operations_->IndexByKey(operation_name);
  const int next = NextOperationPosition(at, operations_->Count());
  if (next < 0) return;
  current_ = operations_->GetItems(Variant{static_cast<std::int32_t>(at)});
  next_ = operations_->GetItems(Variant{static_cast<std::int32_t>(next)});
  UpdateOperationInfo(current_.Get(), context);
}

bool Action::ExecuteOperation(std::wstring_view operation_name, IAgent* context) noexcept {
  // A publisher observer or a log line may let go of the last outside
  // reference to this action.
  ComPtr<IAction> self(this);
  try {
    if (!IsEnabled() && !ContextFlag(context, L"ignore_enabled_state")) return false;
    ComPtr<IOperation> op = operations_->GetItems(Variant{std::wstring(operation_name)});
    ComPtr<IAgent> effective(context);
    if (op) {
      if (ComPtr<IAgent> last = op->GetLastContext()) {
        if (context == nullptr || ContextFlag(context, L"overridable_context")) effective = last;
      }
    }
    bool result = true;
    if (hover_operation_name_.empty()) {
      try {
        result = ApplyOperation(operation_name, effective.Get());
      } catch (...) {
        result = false;
        const std::wstring message = ExceptionText(std::current_exception());
        WriteActionLog(operation_name, effective.Get(), &message);
      }
    }
    last_applied_operation_name_.assign(operation_name);
    last_applied_context_ = effective;
    if (logging_policy_ != lpSkipAnyway && (result || logging_policy_ == lpLogAnyway))
      WriteActionLog(operation_name, effective.Get());
    if (result) {
      if (op && !ContextFlag(effective.Get(), L"transient")) {
        op->SetLastContext(effective.Get());
        SetCurrentOperation(operation_name, op->GetLastContext().Get());
      }
      Publish();
    }
    return result;
  } catch (...) {
    return false;
  }
}

bool Action::ExecuteNextOperation(IAgent* context) noexcept {
  ComPtr<IOperation> next = next_;
  if (!next) return true;
  return ExecuteOperation(next->GetName(), context);
}

std::wstring Action::GetLastAppliedOperationName() noexcept {
  try {
    return last_applied_operation_name_;
  } catch (...) {
    return {};
  }
}

std::wstring Action::GetHoverOperationName() noexcept {
  try {
    return hover_operation_name_;
  } catch (...) {
    return {};
  }
}

bool Action::ApplyHoverEffect(std::wstring_view operation_name, IAgent* context) noexcept {
  ComPtr<IAction> self(this);
  try {
    hover_operation_name_.clear();
    const bool result = ApplyOperation(operation_name, context);
    if (result) {
      hover_in_effect_ = true;
      hover_operation_name_.assign(operation_name);
      WriteActionLog(operation_name, context);
      Publish();
    }
    return result;
  } catch (...) {
    return false;
  }
}

bool Action::RemoveHoverEffect(IAgent*) noexcept {
  ComPtr<IAction> self(this);
  try {
    if (!hover_in_effect_) return false;
    hover_operation_name_.clear();
    if (!current_) return false;
    const std::wstring name = last_applied_operation_name_;
    ComPtr<IAgent> last = last_applied_context_;
    const bool result = ExecuteOperation(name, last.Get());
    hover_in_effect_ = false;
    Publish();
    return result;
  } catch (...) {
    return false;
  }
}

// ---- Menus and extended UI ------------------------------------------------------------------

bool Action::ExecuteMenuCommand(std::wstring_view, IAgent* context, MenuKind menu_kind) noexcept {
  try {
    const wchar_t* kind = menu_kind == mkOptions         ? L"WindowMenuOptions"
                          : menu_kind == mkCaptionButton ? L"CaptionButtonContextMenu"
                                                         : L"WindowMenu";
    context_full_name_ = ContextPath(context) + L"." + kind;
  } catch (...) {
  }
  return false;
}

bool Action::HasExtendedUI(UIContext ui_context, IAgent* context) noexcept {
  if (ui_context == ucCaptionButton || ui_context == ucHotkey)
    return HasMenuOfKind(mkCaptionButton, context);
  return false;
}

void Action::ShowExtendedUI(UIContext ui_context, IAgent* context) noexcept {
  if (!IsEnabled()) return;
  try {
    ClosePopupMenu();
    if (HasExtendedUI(ui_context, context)) {
      extended_ui_context_ = context;
      ShowPopupMenu(ui_context, context);
    }
  } catch (...) {
  }
}

void Action::CloseExtendedUI() noexcept {
  try {
    ClosePopupMenu();
  } catch (...) {
  }
  extended_ui_context_.Reset();
}

// ---- Window rectangle ------------------------------------------------------------------

void Action::SaveWindowRect() {
  HWND wnd = Wnd();
  have_stored_pos_ = wnd != nullptr && GetWindowRect(wnd, &stored_win_pos_) != FALSE;
}

bool Action::RestoreWindowRect(bool restore_pos, bool restore_size) {
  const bool had = have_stored_pos_;
  have_stored_pos_ = false;
  HWND wnd = Wnd();
  if (!had || wnd == nullptr || (!restore_pos && !restore_size)) return had;
  RECT rc = stored_win_pos_;
  // A window that keeps screen rectangles relative to its parent (docked
  // into a container) is placed in its parent's client coordinates.
  if (Names().screen_to_parent_rects != 0 &&
      GetPropW(wnd, MAKEINTATOM(Names().screen_to_parent_rects)) != nullptr)
    MapWindowPoints(nullptr, GetParent(wnd), reinterpret_cast<POINT*>(&rc), 2);
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  if (!restore_pos) flags |= SWP_NOMOVE;
  if (!restore_size) flags |= SWP_NOSIZE;
  SetWindowPos(wnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, flags);
  return had;
}

// ---- Log lines ------------------------------------------------------------------

std::wstring Action::ContextPath(IAgent* context) const {
  if (context == nullptr) return {};
  std::wstring path = context->GetName();
  const ComPtr<IUnknown> stop = IdentityOf(part_owner_.Get());
  ComPtr<IItem> owner = context->GetOwner();
  // Owners are walked while they are window parts; a chain is a few levels
  // deep, and a bound keeps a cycle of foreign parts from hanging us.
  for (int depth = 0; owner && depth < 32; ++depth) {
    if (stop && IdentityOf(owner.Get()) == stop) break;
    path = owner->GetName() + L"." + path;
    ComPtr<IWindowPart> part;
    if (FAILED(owner.As(&part))) break;
    owner = part->GetOwner();
  }
  return path;
}

void Action::WriteActionLog(std::wstring_view operation_name, IAgent* context,
                            const std::wstring* failure) noexcept {
  if (!hooklib::LibraryEventLogEnabled() || !part_owner_) return;
  try {
    ComPtr<IWindowHandler> handler = WindowHandler();
    std::wstring path;
    if (!context_full_name_.empty()) {
      path = std::move(context_full_name_);
      context_full_name_.clear();
    } else {
      path = ContextPath(context);
    }
    if (path.empty()) path = L"-";
    std::wstring description = context ? context->GetContextDescription() : std::wstring();
    if (description.empty()) description = L"-";
    std::wstring text = handler ? handler->GetParamDefault(L"window_rule_name", L"") : L"";
    text += L";";
    if (handler) text += handler->GetWndClassName();
    text += L";" + Hex8(reinterpret_cast<std::uintptr_t>(handler ? handler->GetWnd() : nullptr));
    text += L";" + RuntimeClassName() + L";";
    text += operation_name;
    text += L";" + path + L";" + description;
    if (failure != nullptr) text += L";" + FailureDetail(*failure);
    hooklib::SendEventLine(text);
  } catch (...) {
  }
}

// ---- Message-handling actions ------------------------------------------------------------------

void* MessageHandlerAction::FindInterface(REFIID riid) noexcept {
  if (void* p = FindInterfaceIn<IMessageHandler>(this, riid)) return p;
  return Action::FindInterface(riid);
}

void MessageHandlerAction::AttachWindow() noexcept {
  Action::AttachWindow();
  if (ComPtr<IWindowHandler> handler = WindowHandler())
    handler->AttachMessageHandler(static_cast<IMessageHandler*>(this));
}

void MessageHandlerAction::DetachWindow() noexcept {
  if (ComPtr<IWindowHandler> handler = WindowHandler())
    handler->DetachMessageHandler(static_cast<IMessageHandler*>(this));
  Action::DetachWindow();
}

bool MessageHandlerAction::BeforeMessage(Message& message) noexcept {
  const UINT service = Names().service;
  if (service == 0 || message.Msg != service || message.WParam != kServicePublishAction)
    return false;
  const auto value = static_cast<std::uintptr_t>(message.LParam);
  auto is = [value](const void* p) { return value == reinterpret_cast<std::uintptr_t>(p); };
  if (is(this) || is(static_cast<Action*>(this)) || is(static_cast<IAction*>(this)) ||
      is(static_cast<IMessageHandler*>(this)) ||
      (ClassReference() != nullptr && is(ClassReference()))) {
    Publish();
    return true;
  }
  return false;
}

}  // namespace vm::framework
