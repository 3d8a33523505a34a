#pragma once
// Actions: the parts of a window rule that do something to the extended
// window. An action offers named operations; a caller executes one by name
// with an optional context, the action applies it, remembers which one is
// current (and which comes next, going round), writes an event-log line
// and tells its observers through its publisher.
//
// Action is the template the concrete actions fill in: InitOperations
// makes the operations, ApplyOperation does the work. MessageHandlerAction
// additionally sees every message of the window around its own procedure.
// Both live on the window's thread.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "hooklib/framework/collections.h"
#include "hooklib/framework/item.h"
#include "hooklib/framework/publisher.h"

namespace vm::framework {

// Service code (wParam of the service message) that makes a message-handling
// action publish; lParam names the action object or its class (see
// MessageHandlerAction::BeforeMessage).
inline constexpr WPARAM kServicePublishAction = 23;

enum LoggingPolicy : int { lpSuccessfulOnly = 0, lpLogAnyway = 1, lpSkipAnyway = 2 };

class Action : public AbstractSlave<IAction> {
 public:
  // Sets the logging policy, makes the operations (InitOperations) and the
  // publisher; a current operation chosen there counts as last applied.
  void InitInstance() override;
  // "localized_params": hexadecimal text of a block of (key, value) byte
  // strings; each operation takes the value under its name + "_Caption" as
  // caption. Anything else as for every item ("name").
  void SetParam(std::wstring_view name, const Variant& value) override;

  // ISlave / IWindowPart
  void STDMETHODCALLTYPE Init(IItem* owner) noexcept override;
  void STDMETHODCALLTYPE Done() noexcept override;
  bool STDMETHODCALLTYPE IsProperWindow(HWND) noexcept override { return true; }
  void STDMETHODCALLTYPE AttachWindow() noexcept override { attached_ = true; }
  void STDMETHODCALLTYPE DetachWindow() noexcept override;
  bool STDMETHODCALLTYPE IsAttached() noexcept override { return attached_; }

  // IAction
  bool STDMETHODCALLTYPE IsEnabled() noexcept override { return attached_ && !disabled_; }
  void STDMETHODCALLTYPE SetEnabled(bool new_value) noexcept override;
  bool STDMETHODCALLTYPE ExecuteOperation(std::wstring_view operation_name,
                                          IAgent* context) noexcept override;
  bool STDMETHODCALLTYPE ExecuteNextOperation(IAgent* context) noexcept override;
  void STDMETHODCALLTYPE UpdateOperationInfo(IOperation*, IAgent*) noexcept override {}
  ComPtr<IOperations> STDMETHODCALLTYPE GetOperations() noexcept override { return operations_; }
  ComPtr<IOperation> STDMETHODCALLTYPE GetCurrentOperation() noexcept override { return current_; }
  ComPtr<IOperation> STDMETHODCALLTYPE GetNextOperation() noexcept override { return next_; }
  ComPtr<IOperation> STDMETHODCALLTYPE GetNextVisibleOperation(IAgent*) noexcept override {
    return next_;
  }
  std::wstring STDMETHODCALLTYPE GetLastAppliedOperationName() noexcept override;
  ComPtr<IPublisher> STDMETHODCALLTYPE GetPublisher() noexcept override { return publisher_; }
  bool STDMETHODCALLTYPE ApplyHoverEffect(std::wstring_view operation_name,
                                          IAgent* context) noexcept override;
  bool STDMETHODCALLTYPE RemoveHoverEffect(IAgent* context) noexcept override;
  std::wstring STDMETHODCALLTYPE GetHoverOperationName() noexcept override;
  bool STDMETHODCALLTYPE HasMenuOfKind(MenuKind, IAgent*) noexcept override { return false; }
  std::wstring STDMETHODCALLTYPE GetMenuStructure(MenuKind, IAgent*) noexcept override {
    return {};
  }
  bool STDMETHODCALLTYPE ExecuteMenuCommand(std::wstring_view menu_command_name, IAgent* context,
                                            MenuKind menu_kind) noexcept override;
  bool STDMETHODCALLTYPE HasExtendedUI(UIContext ui_context, IAgent* context) noexcept override;
  void STDMETHODCALLTYPE ShowExtendedUI(UIContext ui_context, IAgent* context) noexcept override;
  void STDMETHODCALLTYPE CloseExtendedUI() noexcept override;

  // The class name the log lines give for this action ("TAction" here;
  // every concrete action names its own).
  virtual std::wstring RuntimeClassName() const { return L"TAction"; }
  // The class reference of the concrete action (ItemClassOf<its class>),
  // null for a class that names none.
  virtual const ItemClass* ClassReference() const noexcept { return nullptr; }

  // Inspection (tests).
  LoggingPolicy GetLoggingPolicy() const noexcept { return logging_policy_; }
  bool HoverInEffect() const noexcept { return hover_in_effect_; }

 protected:
  // Fills operations_ (AddOperation); runs during construction, before the
  // parameters.
  virtual void InitOperations() = 0;
  // Does the work of an operation; may throw (the caller turns that into a
  // false result and a failure log line). Names that are not among the
  // operations reach it too: the action decides.
  virtual bool ApplyOperation(std::wstring_view operation_name, IAgent* context);
  virtual void SetCurrentOperation(std::wstring_view operation_name, IAgent* context);
  virtual void SaveWindowRect();
  virtual bool RestoreWindowRect(bool restore_pos, bool restore_size);
  // No action of this library supplies a menu structure, so the
  // caption-button menu is never shown.
  virtual void ShowPopupMenu(UIContext, IAgent*) {}
  virtual void ClosePopupMenu() {}

  ComPtr<IOperation> AddOperation(std::wstring_view name, std::wstring_view caption = {});
  void Publish() noexcept;
  void SetLoggingPolicy(LoggingPolicy policy) noexcept { logging_policy_ = policy; }

  ComPtr<IWindowPartOwner> PartOwner() const noexcept { return part_owner_; }
  ComPtr<IWindowHandler> WindowHandler() const noexcept;
  HWND Wnd() const noexcept;

  // Dotted path of a context up to, not including, this action's owner.
  std::wstring ContextPath(IAgent* context) const;
  // The action log line for an operation; `failure` (the exception's
  // message) makes it the failure line.
  void WriteActionLog(std::wstring_view operation_name, IAgent* context,
                      const std::wstring* failure = nullptr) noexcept;

  ComPtr<Operations> operations_;

 private:
  std::vector<std::pair<std::wstring, std::wstring>> localized_params_;
  ComPtr<IOperation> current_;
  ComPtr<IOperation> next_;
  ComPtr<IWindowPartOwner> part_owner_;
  ComPtr<IPublisher> publisher_;
  bool disabled_ = false;
  bool attached_ = false;
  bool hover_in_effect_ = false;
  std::wstring hover_operation_name_;
  bool have_stored_pos_ = false;
  RECT stored_win_pos_{};
  std::wstring last_applied_operation_name_;
  ComPtr<IAgent> last_applied_context_;
  std::wstring context_full_name_;
  LoggingPolicy logging_policy_ = lpSuccessfulOnly;
  ComPtr<IAgent> extended_ui_context_;
};

class MessageHandlerAction : public Action, public IMessageHandler {
 public:
  VM_DECLARE_UNKNOWN

  // Registers with the window extender as a message handler (after the
  // inherited attach) and unregisters before the inherited detach.
  void STDMETHODCALLTYPE AttachWindow() noexcept override;
  void STDMETHODCALLTYPE DetachWindow() noexcept override;

  // The service message with code 23 whose lParam is this action (its
  // object, IAction or IMessageHandler address) or its class (the address
  // of its ClassReference) makes it publish, and counts as handled. The lParam is only
  // compared, never followed: any process may post it.
  bool STDMETHODCALLTYPE BeforeMessage(Message& message) noexcept override;
  void STDMETHODCALLTYPE AfterMessage(Message&, bool) noexcept override {}

  std::wstring RuntimeClassName() const override { return L"TMessageHandlerAction"; }
  void* FindInterface(REFIID riid) noexcept override;
};

}  // namespace vm::framework
