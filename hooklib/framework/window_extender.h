#pragma once
// The window extender: the per-window object that carries out a window rule.
// It owns the rule's parts (actions, triggers, at most one toolbox),
// subclasses the window through a window-procedure stub so that every
// message passes the parts' BeforeMessage, then the window's own procedure,
// then their AfterMessage, and offers the parts its window services.
//
// It lives on the window's thread: the window procedure, the timers and the
// service window all run there. The rule dispatcher creates, attaches and
// closes extenders.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hooklib/core/hook_seams.h"
#include "hooklib/core/window_message.h"
#include "hooklib/framework/collections.h"
#include "hooklib/framework/extender_timers.h"
#include "hooklib/framework/item.h"
#include "hooklib/framework/keyed_list.h"

namespace vm::hooklib {
class WindowHook;
}

namespace vm::framework {

// Registers "WINDOWEXTENDER" in the item class registry (once; later calls
// only answer whether it is registered).
bool EnsureWindowExtenderClass() noexcept;

// Service codes the extender itself acts on (wParam of the service message).
inline constexpr WPARAM kServiceAttached = 1;
inline constexpr WPARAM kServiceDetach = 3;
inline constexpr WPARAM kServiceAliveCheck = 10;
inline constexpr LRESULT kAliveAnswer = 42;
inline constexpr WPARAM kServiceSetCursor = 31;
inline constexpr WPARAM kServiceCheckSubclass = 30;
inline constexpr WPARAM kServiceReapplyRule = 67;

// What the stub calls: it outlives the extender when the extender goes on
// another thread than the window's, so a late call finds no extender and
// passes the message on to the procedure that was there before.
struct ExtenderLink;

class WindowExtender : public AbstractItem<IWindowExtender>,
                       public IMessageHandler,
                       public IChildMessageHandler,
                       public IServerMessageRedirector,
                       public IWindowPartOwner,
                       public IWindowHandler,
                       public hooklib::ExtenderHooks {
 public:
  VM_DECLARE_UNKNOWN

  WindowExtender();
  ~WindowExtender() override;

  void InitInstance() override;
  void SetParam(std::wstring_view name, const Variant& value) override;

  // IItem (both chains)
  std::wstring STDMETHODCALLTYPE GetName() noexcept override { return AbstractItem::GetName(); }
  void STDMETHODCALLTYPE SetName(std::wstring_view name) noexcept override {
    AbstractItem::SetName(name);
  }
  void STDMETHODCALLTYPE ParseParams(std::wstring_view params) noexcept override {
    AbstractItem::ParseParams(params);
  }
  bool STDMETHODCALLTYPE IsObjectOfClass(const ItemClass& c) noexcept override {
    return AbstractItem::IsObjectOfClass(c);
  }

  // ISlave
  void STDMETHODCALLTYPE Init(IItem* owner) noexcept override;
  void STDMETHODCALLTYPE Done() noexcept override;
  void STDMETHODCALLTYPE Bind() noexcept override;
  void STDMETHODCALLTYPE Unbind() noexcept override;
  ComPtr<IItem> STDMETHODCALLTYPE GetOwner() noexcept override;

  // IWindowExtender
  HWND STDMETHODCALLTYPE GetWnd() noexcept override { return wnd_.load(); }
  void STDMETHODCALLTYPE AttachWindow(HWND wnd) noexcept override;
  void STDMETHODCALLTYPE DetachWindow() noexcept override;
  int STDMETHODCALLTYPE WindowProcNestingCount() noexcept override { return nesting_.load(); }
  void STDMETHODCALLTYPE RequestExclusiveAccess() noexcept override;
  void STDMETHODCALLTYPE ReleaseExclusiveAccess() noexcept override;
  void STDMETHODCALLTYPE ReapplyRule() noexcept override;

  // IMessageHandler (the extender's own handling around its parts')
  bool STDMETHODCALLTYPE BeforeMessage(Message& message) noexcept override;
  void STDMETHODCALLTYPE AfterMessage(Message& message, bool before_handled) noexcept override;
  // The hooks' view of the same (windows extended without subclassing).
  bool BeforeMessage(hooklib::WindowMessage& message) noexcept override;
  void AfterMessage(hooklib::WindowMessage& message, bool before_handled) noexcept override;

  // IChildMessageHandler: child-window subclassing is not offered yet.
  bool STDMETHODCALLTYPE BeforeChildMessage(HWND, Message&) noexcept override { return false; }
  void STDMETHODCALLTYPE AfterChildMessage(HWND, Message&, bool) noexcept override {}

  // IServerMessageRedirector
  void STDMETHODCALLTYPE OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                             int command_code,
                                             std::string_view command_data) noexcept override;

  // IWindowPartOwner
  ComPtr<IWindowHandler> STDMETHODCALLTYPE GetWindowHandler() noexcept override;
  ComPtr<IActions> STDMETHODCALLTYPE GetActions() noexcept override { return actions_; }
  ComPtr<ITriggers> STDMETHODCALLTYPE GetTriggers() noexcept override { return triggers_; }

  // IWindowHandler
  std::wstring STDMETHODCALLTYPE GetWndClassName() noexcept override;
  void STDMETHODCALLTYPE AttachMessageHandler(IMessageHandler* handler) noexcept override;
  void STDMETHODCALLTYPE DetachMessageHandler(IMessageHandler* handler) noexcept override;
  void STDMETHODCALLTYPE CallOriginalWndProc(Message& message) noexcept override;
  ExtenderTimer* STDMETHODCALLTYPE CreateNewTimer() noexcept override;
  void STDMETHODCALLTYPE SetProp(std::wstring_view name, UINT_PTR value) noexcept override;
  UINT_PTR STDMETHODCALLTYPE GetProp(std::wstring_view name, UINT_PTR def_value) noexcept override;
  void STDMETHODCALLTYPE RemoveProp(std::wstring_view name) noexcept override;
  void STDMETHODCALLTYPE PropChangeSubscribe(IPropChangeSubscriber* subscriber) noexcept override;
  void STDMETHODCALLTYPE PropChangeUnsubscribe(IPropChangeSubscriber* subscriber) noexcept override;
  void STDMETHODCALLTYPE InitializeTransparency() noexcept override {}
  void STDMETHODCALLTYPE FinalizeTransparency() noexcept override {}
  void STDMETHODCALLTYPE Subscribe(std::wstring_view name,
                                   IServerMessageReceiver* receiver) noexcept override;
  void STDMETHODCALLTYPE Unsubscribe(std::wstring_view name) noexcept override;
  void STDMETHODCALLTYPE Unsubscribe(IServerMessageReceiver* receiver) noexcept override;
  bool STDMETHODCALLTYPE IsConsole() noexcept override { return false; }
  bool STDMETHODCALLTYPE IsMDI() noexcept override { return is_mdi_; }
  bool STDMETHODCALLTYPE IsMetroFrame() noexcept override { return is_metro_frame_; }
  bool STDMETHODCALLTYPE IsApplicationFrameWindow() noexcept override { return is_app_frame_; }
  bool STDMETHODCALLTYPE IsTabbedContainerWindow() noexcept override { return is_container_; }
  bool STDMETHODCALLTYPE IsGoogleChromeWindow() noexcept override { return is_chrome_; }
  void STDMETHODCALLTYPE SubclassChildWindow(HWND, IChildMessageHandler*) noexcept override {}
  void STDMETHODCALLTYPE UnsubclassChildWindow(HWND, IChildMessageHandler*) noexcept override {}
  std::wstring STDMETHODCALLTYPE GetParamDefault(std::wstring_view name,
                                                 std::wstring_view default_value) noexcept override;
  HWND STDMETHODCALLTYPE GetServiceWnd() noexcept override { return service_wnd_; }
  void STDMETHODCALLTYPE
  Office2007SubclassingSubscribe(IOffice2007MenuBarMessageHandler*) noexcept override {}
  void STDMETHODCALLTYPE
  Office2007SubclassingUnsubscribe(IOffice2007MenuBarMessageHandler*) noexcept override {}
  HWND STDMETHODCALLTYPE GetOffice2007MenuBarWnd() noexcept override { return nullptr; }
  void STDMETHODCALLTYPE RegisterSpecialAgent(IAgent*, UINT_PTR) noexcept override {}
  void STDMETHODCALLTYPE UnregisterSpecialAgent(IAgent*) noexcept override {}
  ComPtr<IAgent> STDMETHODCALLTYPE GetSpecialAgent(UINT_PTR) noexcept override { return nullptr; }
  void STDMETHODCALLTYPE ShowSizeMoveTooltip(int, std::wstring_view) noexcept override {}
  void STDMETHODCALLTYPE HideSizeMoveTooltip(int) noexcept override {}
  HWND STDMETHODCALLTYPE GetSizeMoveTooltipWindow() noexcept override { return nullptr; }
  HICON STDMETHODCALLTYPE GetSpecialIcon(std::wstring_view) noexcept override { return nullptr; }
  ComPtr<IToolbox> STDMETHODCALLTYPE GetToolbox() noexcept override { return toolbox_; }
  void STDMETHODCALLTYPE ResetHook() noexcept override;
  std::wstring STDMETHODCALLTYPE GetRegistryParamsPath() noexcept override { return {}; }
  bool STDMETHODCALLTYPE InSizeMoveLoop() noexcept override { return in_size_move_; }
  int STDMETHODCALLTYPE GetWindowDPI() noexcept override { return window_dpi_; }
  int STDMETHODCALLTYPE GetWindowNonClientDPI() noexcept override { return window_nc_dpi_; }
  void STDMETHODCALLTYPE SetTargetRectForDPIChange(const RECT& rc) noexcept override;
  void STDMETHODCALLTYPE ResetTargetRectForDPIChange() noexcept override {
    target_rect_valid_ = false;
  }

  void* FindInterface(REFIID riid) noexcept override;

  // Inspection (tests and the dispatcher's logs).
  bool Subclassed() const noexcept;
  int DetachTryCount() const noexcept { return detach_tries_; }
  int RehookCount() const noexcept { return alive_.rehooks; }
  bool CheckTimerEnabled() const noexcept;
  void* StubAddress() const noexcept;

  // Called by the stub (see ExtenderLink).
  void WindowProc(HWND wnd, hooklib::WindowMessage& message) noexcept;
  void ServiceWindowProc(HWND wnd, hooklib::WindowMessage& message) noexcept;

 private:
  void SetPartParam(bool trigger, std::wstring_view value);
  void DecideSubclassing(HWND wnd);
  void CheckExtenderTimerNotify() noexcept;
  void LogExtensionEvent(std::wstring_view operation, std::wstring_view detail) noexcept;
  bool OwnBeforeMessage(Message& message);
  std::vector<ComPtr<IMessageHandler>> HandlersSnapshot() const;
  ComPtr<IWindowExtenderOwner> Owner() const noexcept;
  template <class Fn>
  void ForEachPart(bool reverse, Fn&& fn);

  ComPtr<Actions> actions_;
  ComPtr<Triggers> triggers_;
  ComPtr<MessageHandlers> handlers_;
  ComPtr<IWindowExtenderOwner> owner_;
  ComPtr<IToolbox> toolbox_;
  CRITICAL_SECTION exclusive_lock_;
  mutable SRWLOCK state_lock_ = SRWLOCK_INIT;  // owner_, handlers_ across threads
  std::atomic<HWND> wnd_{nullptr};
  std::wstring class_name_;
  std::unique_ptr<hooklib::WindowHook> hook_;
  ExtenderLink* link_ = nullptr;
  std::atomic<int> nesting_{0};
  int detach_tries_ = 0;
  ExtenderTimer* check_timer_ = nullptr;
  struct {
    int answered = 0;
    int rehooks = 0;
  } alive_;
  TimerCollection timers_;
  KeyedList<UINT_PTR> properties_;
  KeyedList<std::wstring> params_;
  InterfaceCollection<IPropChangeSubscriber> prop_subscribers_;
  InterfaceCollection<IServerMessageReceiver> server_subscribers_;
  bool is_mdi_ = false;
  bool is_metro_frame_ = false;
  bool is_app_frame_ = false;
  bool is_container_ = false;
  bool is_chrome_ = false;
  bool is_dialog_in_explorer_ = false;
  bool noninvasive_ = false;
  HWND service_wnd_ = nullptr;
  std::wstring special_icons_;
  bool in_size_move_ = false;
  int window_dpi_ = 0;
  int window_nc_dpi_ = 0;
  RECT target_rect_{};
  bool target_rect_valid_ = false;
  bool counted_ = false;  // raised the call depth in InitInstance
};

}  // namespace vm::framework
