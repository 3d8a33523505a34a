#pragma once
// The interfaces of the item framework, each identified by its GUID
// (QueryInterface and __uuidof use it), with the operations in slot order:
// after the three IUnknown operations come the parent's, then the
// interface's own.
//
// Every operation is noexcept: these are the boundaries between parts made
// by different modules, and a failure inside a part must never travel
// through one. Strings are UTF-16; text arguments are views valid for the
// call, results are owned copies; interface results are references the
// caller owns (ComPtr), interface arguments are borrowed for the call. Byte
// strings (plug-in command data) are
// std::string_view / std::string of raw bytes.
//
// Five interfaces are declared and called here but implemented by no class
// of this library: IAgent, IEAObserver, IPropChangeSubscriber,
// IServerMessageReceiver and IOffice2007MenuBarMessageHandler; ITrigger only
// by the trigger base (trigger.h), of which no class is registered. Contexts
// handed to actions are therefore always null, no trigger exists, publishers
// have no observers, and the extender's subscription lists stay empty.
#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <string>
#include <string_view>
#include <vector>

#include "hooklib/framework/variant.h"

namespace vm::framework {

using Microsoft::WRL::ComPtr;

struct ItemClass;     // a class reference: see item.h
class ExtenderTimer;  // a window timer owned by a window extender

// The window-message record every message handler receives.
struct Message {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

using Handles = std::vector<HWND>;

enum MenuKind : int { mkNormal = 0, mkOptions = 1, mkCaptionButton = 2 };
enum UIContext : int { ucCaptionButton = 0, ucHotkey = 1 };
enum ExtensionReason : int { erDefault = 0, erCaptionChanged = 1, erDestroyed = 2 };
// The control program's two messenger servers.
enum ServerInstance : int { siMain = 0, siShell = 1 };
inline constexpr int kServerInstanceCount = 2;

struct IAction;
struct IActions;
struct IAgent;
struct IChildMessageHandler;
struct IEAObserver;
struct IMessageHandler;
struct IObservers;
struct IOffice2007MenuBarMessageHandler;
struct IOperation;
struct IPropChangeSubscriber;
struct IPublisher;
struct IServerMessageReceiver;
struct IToolbox;
struct ITrigger;
struct ITriggers;
struct IWindowExtender;
struct IWindowHandler;

// Base names the parent interface, so that an implementation answers
// QueryInterface for the whole chain (see com_object.h).

struct IItem : IUnknown {
  using Base = IUnknown;
  virtual std::wstring STDMETHODCALLTYPE GetName() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetName(std::wstring_view name) noexcept = 0;
  virtual void STDMETHODCALLTYPE ParseParams(std::wstring_view params) noexcept = 0;
  // True when the object is an instance of that class or of a descendant.
  virtual bool STDMETHODCALLTYPE IsObjectOfClass(const ItemClass& object_class) noexcept = 0;
};

struct ICollection : IUnknown {
  using Base = IUnknown;
  virtual int STDMETHODCALLTYPE Count() noexcept = 0;
  virtual void STDMETHODCALLTYPE Delete(const Variant& index) noexcept = 0;
  virtual int STDMETHODCALLTYPE IndexByKey(std::wstring_view key) noexcept = 0;
  virtual void STDMETHODCALLTYPE Clear() noexcept = 0;
};

struct ISlave : IItem {
  using Base = IItem;
  virtual void STDMETHODCALLTYPE Init(IItem* owner) noexcept = 0;
  virtual void STDMETHODCALLTYPE Done() noexcept = 0;
  virtual void STDMETHODCALLTYPE Bind() noexcept = 0;
  virtual void STDMETHODCALLTYPE Unbind() noexcept = 0;
  virtual ComPtr<IItem> STDMETHODCALLTYPE GetOwner() noexcept = 0;
};

struct IWindowPart : ISlave {
  using Base = ISlave;
  virtual bool STDMETHODCALLTYPE IsProperWindow(HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE AttachWindow() noexcept = 0;
  virtual void STDMETHODCALLTYPE DetachWindow() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsAttached() noexcept = 0;
};

struct IWindowPartOwner : IItem {
  using Base = IItem;
  virtual ComPtr<IWindowHandler> STDMETHODCALLTYPE GetWindowHandler() noexcept = 0;
  virtual ComPtr<IActions> STDMETHODCALLTYPE GetActions() noexcept = 0;
  virtual ComPtr<ITriggers> STDMETHODCALLTYPE GetTriggers() noexcept = 0;
};

struct IMessageHandler : IUnknown {
  using Base = IUnknown;
  virtual bool STDMETHODCALLTYPE BeforeMessage(Message& message) noexcept = 0;
  virtual void STDMETHODCALLTYPE AfterMessage(Message& message, bool before_handled) noexcept = 0;
};

struct IMessageHandlers : ICollection {
  using Base = ICollection;
  virtual ComPtr<IMessageHandler> STDMETHODCALLTYPE GetItems(int index) noexcept = 0;
  virtual void STDMETHODCALLTYPE Add(IMessageHandler* item) noexcept = 0;
};

struct IChildMessageHandler : IUnknown {
  using Base = IUnknown;
  virtual bool STDMETHODCALLTYPE BeforeChildMessage(HWND wnd, Message& message) noexcept = 0;
  virtual void STDMETHODCALLTYPE AfterChildMessage(HWND wnd, Message& message,
                                                   bool before_handled) noexcept = 0;
};

// Not implemented in this library.
struct IOffice2007MenuBarMessageHandler : IChildMessageHandler {
  using Base = IChildMessageHandler;
  // The extender found and subclassed the menu bar window.
  virtual void STDMETHODCALLTYPE OnMenuBarAttached() noexcept = 0;
};

struct IOperation : IItem {
  using Base = IItem;
  virtual std::wstring STDMETHODCALLTYPE GetCaption() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetCaption(std::wstring_view value) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetImage() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetImage(std::wstring_view value) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetDownImage() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetDownImage(std::wstring_view value) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetImageSmall() noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetDownImageSmall() noexcept = 0;
  virtual ComPtr<IAgent> STDMETHODCALLTYPE GetLastContext() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetLastContext(IAgent* value) noexcept = 0;
  virtual UINT32 STDMETHODCALLTYPE GetHotKeyInfo() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetHotKeyInfo(UINT32 hot_key_info) noexcept = 0;
};

struct IOperations : ICollection {
  using Base = ICollection;
  virtual ComPtr<IOperation> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept = 0;
  virtual ComPtr<IOperation> STDMETHODCALLTYPE Add(IOperation* item) noexcept = 0;
};

// Not implemented in this library.
struct IEAObserver : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE Update(IPublisher* publisher) noexcept = 0;
};

struct IObservers : ICollection {
  using Base = ICollection;
  virtual int STDMETHODCALLTYPE GetItemIndex(IEAObserver* item) noexcept = 0;
  virtual ComPtr<IEAObserver> STDMETHODCALLTYPE GetItems(int index) noexcept = 0;
  virtual void STDMETHODCALLTYPE Add(IEAObserver* item) noexcept = 0;
};

struct IPublisher : ISlave {
  using Base = ISlave;
  virtual ComPtr<IItem> STDMETHODCALLTYPE GetSubject() noexcept = 0;
  virtual ComPtr<IObservers> STDMETHODCALLTYPE GetObservers() noexcept = 0;
  virtual void STDMETHODCALLTYPE Attach(IEAObserver* observer) noexcept = 0;
  virtual void STDMETHODCALLTYPE Detach(IEAObserver* observer) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnUpdate() noexcept = 0;
};

struct IAction : IWindowPart {
  using Base = IWindowPart;
  virtual bool STDMETHODCALLTYPE IsEnabled() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetEnabled(bool new_value) noexcept = 0;
  virtual bool STDMETHODCALLTYPE ExecuteOperation(std::wstring_view operation_name,
                                                  IAgent* context) noexcept = 0;
  virtual bool STDMETHODCALLTYPE ExecuteNextOperation(IAgent* context) noexcept = 0;
  virtual void STDMETHODCALLTYPE UpdateOperationInfo(IOperation* operation,
                                                     IAgent* context) noexcept = 0;
  virtual ComPtr<IOperations> STDMETHODCALLTYPE GetOperations() noexcept = 0;
  virtual ComPtr<IOperation> STDMETHODCALLTYPE GetCurrentOperation() noexcept = 0;
  virtual ComPtr<IOperation> STDMETHODCALLTYPE GetNextOperation() noexcept = 0;
  virtual ComPtr<IOperation> STDMETHODCALLTYPE
  GetNextVisibleOperation(IAgent* context) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetLastAppliedOperationName() noexcept = 0;
  virtual ComPtr<IPublisher> STDMETHODCALLTYPE GetPublisher() noexcept = 0;
  virtual bool STDMETHODCALLTYPE ApplyHoverEffect(std::wstring_view operation_name,
                                                  IAgent* context) noexcept = 0;
  virtual bool STDMETHODCALLTYPE RemoveHoverEffect(IAgent* context) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetHoverOperationName() noexcept = 0;
  virtual bool STDMETHODCALLTYPE HasMenuOfKind(MenuKind menu_kind, IAgent* context) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetMenuStructure(MenuKind menu_kind,
                                                          IAgent* context) noexcept = 0;
  virtual bool STDMETHODCALLTYPE ExecuteMenuCommand(std::wstring_view menu_command_name,
                                                    IAgent* context,
                                                    MenuKind menu_kind) noexcept = 0;
  virtual bool STDMETHODCALLTYPE HasExtendedUI(UIContext ui_context, IAgent* context) noexcept = 0;
  virtual void STDMETHODCALLTYPE ShowExtendedUI(UIContext ui_context, IAgent* context) noexcept = 0;
  virtual void STDMETHODCALLTYPE CloseExtendedUI() noexcept = 0;
};

struct IActions : ICollection {
  using Base = ICollection;
  virtual ComPtr<IAction> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept = 0;
  virtual void STDMETHODCALLTYPE Add(IAction* item) noexcept = 0;
};

// Not implemented in this library; only GetContextParam (slot 5) and
// GetContextDescription (slot 10) of its own operations are ever called.
struct IAgent : IWindowPart {
  using Base = IWindowPart;
  virtual std::wstring STDMETHODCALLTYPE GetAgentKind() noexcept = 0;
  virtual UINT_PTR STDMETHODCALLTYPE GetAgentId() noexcept = 0;
  virtual HWND STDMETHODCALLTYPE GetContextWnd() noexcept = 0;
  virtual POINT STDMETHODCALLTYPE GetContextPoint() noexcept = 0;
  virtual Variant STDMETHODCALLTYPE GetContextParam(std::wstring_view name,
                                                    const Variant& default_value) noexcept = 0;
  virtual void STDMETHODCALLTYPE SetContextParam(std::wstring_view name,
                                                 const Variant& value) noexcept = 0;
  virtual bool STDMETHODCALLTYPE HasContextParam(std::wstring_view name) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetContextPath() noexcept = 0;
  virtual int STDMETHODCALLTYPE GetContextItemCount() noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetContextDescription() noexcept = 0;
  virtual void STDMETHODCALLTYPE Activate() noexcept = 0;
  virtual void STDMETHODCALLTYPE Deactivate() noexcept = 0;
};

// Implemented by the trigger base only; no registered class uses it.
struct ITrigger : IWindowPart {
  using Base = IWindowPart;
  virtual std::wstring STDMETHODCALLTYPE GetActionName() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsEnabled() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetEnabled(bool new_value) noexcept = 0;
};

struct ITriggers : ICollection {
  using Base = ICollection;
  virtual ComPtr<ITrigger> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept = 0;
  virtual void STDMETHODCALLTYPE Add(ITrigger* item) noexcept = 0;
};

struct IWindowExtender : ISlave {
  using Base = ISlave;
  virtual HWND STDMETHODCALLTYPE GetWnd() noexcept = 0;
  virtual void STDMETHODCALLTYPE AttachWindow(HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE DetachWindow() noexcept = 0;
  virtual int STDMETHODCALLTYPE WindowProcNestingCount() noexcept = 0;
  virtual void STDMETHODCALLTYPE RequestExclusiveAccess() noexcept = 0;
  virtual void STDMETHODCALLTYPE ReleaseExclusiveAccess() noexcept = 0;
  virtual void STDMETHODCALLTYPE ReapplyRule() noexcept = 0;
};

struct IWindowExtenders : ICollection {
  using Base = ICollection;
  virtual ComPtr<IWindowExtender> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept = 0;
  virtual void STDMETHODCALLTYPE AddByWnd(IWindowExtender* item, HWND wnd) noexcept = 0;
  virtual ComPtr<IWindowExtender> STDMETHODCALLTYPE GetItemByIndex(int index) noexcept = 0;
  virtual ComPtr<IWindowExtender> STDMETHODCALLTYPE GetItemByWnd(HWND wnd) noexcept = 0;
  virtual int STDMETHODCALLTYPE GetItemIndexByWnd(HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE DeleteByWnd(HWND wnd) noexcept = 0;
};

struct IWindowExtenderOwner : IItem {
  using Base = IItem;
  virtual void STDMETHODCALLTYPE OnClose(IWindowExtender* window_extender,
                                         int unreg_kind) noexcept = 0;
};

struct IProcessHook : IUnknown {
  using Base = IUnknown;
  virtual bool STDMETHODCALLTYPE IsActive() noexcept = 0;
  virtual void STDMETHODCALLTYPE RegisterWindow(HWND wnd, ExtensionReason reason) noexcept = 0;
  virtual void STDMETHODCALLTYPE UnregisterWindow(HWND wnd, int unreg_kind) noexcept = 0;
  virtual void STDMETHODCALLTYPE CheckVisibleWindow(HWND wnd, bool ignore_visibility) noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsWindowExtended(HWND wnd) noexcept = 0;
  virtual ComPtr<IWindowExtender> STDMETHODCALLTYPE GetWindowExtender(HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnCaptionChanged(HWND wnd, UINT msg, LPARAM lparam) noexcept = 0;
  virtual bool STDMETHODCALLTYPE WindowIsUnbinding(HWND wnd) noexcept = 0;
  virtual bool STDMETHODCALLTYPE HasWindowParams(HWND wnd) noexcept = 0;
  virtual Handles STDMETHODCALLTYPE GetExtendedWindowsList() noexcept = 0;
  virtual void STDMETHODCALLTYPE RecheckWindow(HWND wnd, bool force) noexcept = 0;
};

struct IPlugin : ISlave {
  using Base = ISlave;
  virtual void STDMETHODCALLTYPE OnMessageFromServer(int command_code,
                                                     std::string_view command_data) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnWindowMessage(HWND wnd, UINT& msg, WPARAM wparam,
                                                 LPARAM lparam) noexcept = 0;
};

struct IToolbox : IWindowPart {
  using Base = IWindowPart;
  virtual ComPtr<IPublisher> STDMETHODCALLTYPE GetPublisher() noexcept = 0;
  virtual Variant STDMETHODCALLTYPE
  GetWindowParamDefault(std::wstring_view param_name, const Variant& default_value) noexcept = 0;
  // True only when the value was applied (for "path": the window really was
  // sent to that folder), so that a caller across a process boundary can be
  // told the truth instead of a blanket success.
  virtual bool STDMETHODCALLTYPE SetWindowParam(std::wstring_view param_name,
                                                const Variant& param_value) noexcept = 0;
};

struct IEmbeddedApplication : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE Init() noexcept = 0;
  virtual void STDMETHODCALLTYPE Done() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsUnloading() noexcept = 0;
  virtual void STDMETHODCALLTYPE OnReloading() noexcept = 0;
  virtual HWND STDMETHODCALLTYPE GetMainCenterWindow() noexcept = 0;
  virtual void STDMETHODCALLTYPE OnWindowMessage(HWND wnd, UINT& msg, WPARAM wparam,
                                                 LPARAM lparam) noexcept = 0;
  virtual void STDMETHODCALLTYPE AddPlugin(IPlugin* plugin) noexcept = 0;
  virtual ComPtr<IPlugin> STDMETHODCALLTYPE GetPlugin(std::wstring_view plugin_name) noexcept = 0;
  virtual bool STDMETHODCALLTYPE NeedWinEventHook(DWORD event_id) noexcept = 0;
};

// Not implemented in this library.
struct IPropChangeSubscriber : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE OnPropChanged(std::wstring_view name, UINT_PTR value) noexcept = 0;
};

// Not implemented in this library.
struct IServerMessageReceiver : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE OnServerMessage(int command_code,
                                                 std::string_view command_data) noexcept = 0;
};

// Receiver of the messenger client's events: the embedded application.
struct IServerMessageDispatcher : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                                     int command_code,
                                                     std::string_view command_data) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnClientRegistered(HWND messenger_wnd,
                                                    ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnClientUnregistered(ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnUnloading() noexcept = 0;
};

// Carries a message whose receiver address names a sub-receiver of a
// plug-in ("plugins/Name/sub"): the rule dispatcher and the window extender.
struct IServerMessageRedirector : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                                     int command_code,
                                                     std::string_view command_data) noexcept = 0;
};

struct IWindowHandler : IUnknown {
  using Base = IUnknown;
  virtual HWND STDMETHODCALLTYPE GetWnd() noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetWndClassName() noexcept = 0;
  virtual void STDMETHODCALLTYPE
  AttachMessageHandler(IMessageHandler* message_handler) noexcept = 0;
  virtual void STDMETHODCALLTYPE
  DetachMessageHandler(IMessageHandler* message_handler) noexcept = 0;
  virtual void STDMETHODCALLTYPE CallOriginalWndProc(Message& message) noexcept = 0;
  virtual ExtenderTimer* STDMETHODCALLTYPE CreateNewTimer() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetProp(std::wstring_view name, UINT_PTR value) noexcept = 0;
  virtual UINT_PTR STDMETHODCALLTYPE GetProp(std::wstring_view name,
                                             UINT_PTR def_value) noexcept = 0;
  virtual void STDMETHODCALLTYPE RemoveProp(std::wstring_view name) noexcept = 0;
  virtual void STDMETHODCALLTYPE
  PropChangeSubscribe(IPropChangeSubscriber* subscriber) noexcept = 0;
  virtual void STDMETHODCALLTYPE
  PropChangeUnsubscribe(IPropChangeSubscriber* subscriber) noexcept = 0;
  virtual void STDMETHODCALLTYPE InitializeTransparency() noexcept = 0;
  virtual void STDMETHODCALLTYPE FinalizeTransparency() noexcept = 0;
  virtual void STDMETHODCALLTYPE Subscribe(std::wstring_view name,
                                           IServerMessageReceiver* receiver) noexcept = 0;
  virtual void STDMETHODCALLTYPE Unsubscribe(std::wstring_view name) noexcept = 0;
  virtual void STDMETHODCALLTYPE Unsubscribe(IServerMessageReceiver* receiver) noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsConsole() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsMDI() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsMetroFrame() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsApplicationFrameWindow() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsTabbedContainerWindow() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsGoogleChromeWindow() noexcept = 0;
  virtual void STDMETHODCALLTYPE SubclassChildWindow(HWND child_wnd,
                                                     IChildMessageHandler* handler) noexcept = 0;
  virtual void STDMETHODCALLTYPE UnsubclassChildWindow(HWND child_wnd,
                                                       IChildMessageHandler* handler) noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE
  GetParamDefault(std::wstring_view name, std::wstring_view default_value) noexcept = 0;
  virtual HWND STDMETHODCALLTYPE GetServiceWnd() noexcept = 0;
  virtual void STDMETHODCALLTYPE
  Office2007SubclassingSubscribe(IOffice2007MenuBarMessageHandler* handler) noexcept = 0;
  virtual void STDMETHODCALLTYPE
  Office2007SubclassingUnsubscribe(IOffice2007MenuBarMessageHandler* handler) noexcept = 0;
  virtual HWND STDMETHODCALLTYPE GetOffice2007MenuBarWnd() noexcept = 0;
  virtual void STDMETHODCALLTYPE RegisterSpecialAgent(IAgent* agent, UINT_PTR id) noexcept = 0;
  virtual void STDMETHODCALLTYPE UnregisterSpecialAgent(IAgent* agent) noexcept = 0;
  virtual ComPtr<IAgent> STDMETHODCALLTYPE GetSpecialAgent(UINT_PTR id) noexcept = 0;
  virtual void STDMETHODCALLTYPE ShowSizeMoveTooltip(int index,
                                                     std::wstring_view caption) noexcept = 0;
  virtual void STDMETHODCALLTYPE HideSizeMoveTooltip(int index) noexcept = 0;
  virtual HWND STDMETHODCALLTYPE GetSizeMoveTooltipWindow() noexcept = 0;
  virtual HICON STDMETHODCALLTYPE GetSpecialIcon(std::wstring_view name) noexcept = 0;
  virtual ComPtr<IToolbox> STDMETHODCALLTYPE GetToolbox() noexcept = 0;
  virtual void STDMETHODCALLTYPE ResetHook() noexcept = 0;
  virtual std::wstring STDMETHODCALLTYPE GetRegistryParamsPath() noexcept = 0;
  virtual bool STDMETHODCALLTYPE InSizeMoveLoop() noexcept = 0;
  virtual int STDMETHODCALLTYPE GetWindowDPI() noexcept = 0;
  virtual int STDMETHODCALLTYPE GetWindowNonClientDPI() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetTargetRectForDPIChange(const RECT& rc) noexcept = 0;
  virtual void STDMETHODCALLTYPE ResetTargetRectForDPIChange() noexcept = 0;
};

}  // namespace vm::framework

// The GUIDs, for __uuidof, ComPtr::As and QueryInterface.
__CRT_UUID_DECL(vm::framework::IItem, 0xA97A0D5A, 0x4204, 0x4FED, 0x96, 0xF5, 0x0A, 0xCE, 0xEF,
                0x4B, 0xF2, 0x13)
__CRT_UUID_DECL(vm::framework::ICollection, 0x9C4146F4, 0x87D9, 0x42D6, 0xB6, 0x21, 0xBE, 0x12,
                0x18, 0xE5, 0xF8, 0xF7)
__CRT_UUID_DECL(vm::framework::ISlave, 0x3A08E545, 0xAF40, 0x43E7, 0xA9, 0x86, 0x20, 0xC6, 0x51,
                0xA2, 0x15, 0xC8)
__CRT_UUID_DECL(vm::framework::IWindowPart, 0x3CC955CD, 0x8F32, 0x4507, 0xAC, 0x6F, 0x73, 0x03,
                0x5A, 0x23, 0x79, 0x57)
__CRT_UUID_DECL(vm::framework::IWindowPartOwner, 0xD1FEA1C3, 0xCAEE, 0x4288, 0xA6, 0xC3, 0xB6, 0x6E,
                0xB8, 0x64, 0xCA, 0xC6)
__CRT_UUID_DECL(vm::framework::IMessageHandler, 0xF5C57385, 0xAB37, 0x49A0, 0xBA, 0x2F, 0xF0, 0x1F,
                0xCB, 0x8A, 0x2E, 0xB8)
__CRT_UUID_DECL(vm::framework::IMessageHandlers, 0xF1C7BAA4, 0xF521, 0x4FD6, 0x86, 0xE6, 0x33, 0xF1,
                0x61, 0x7E, 0x00, 0xA3)
__CRT_UUID_DECL(vm::framework::IChildMessageHandler, 0x51E67EE5, 0x1A0A, 0x48AA, 0x91, 0xA4, 0x84,
                0xD0, 0x96, 0x60, 0x9E, 0x3B)
__CRT_UUID_DECL(vm::framework::IOffice2007MenuBarMessageHandler, 0x2BF1911A, 0x9B94, 0x42A5, 0xB6,
                0x5D, 0x62, 0xE6, 0x19, 0x70, 0x0B, 0xC4)
__CRT_UUID_DECL(vm::framework::IOperation, 0x3361CD7C, 0x1DA2, 0x442E, 0xA9, 0xDC, 0xC1, 0x1C, 0xC3,
                0x77, 0x90, 0x13)
__CRT_UUID_DECL(vm::framework::IOperations, 0xE132191E, 0x8F8C, 0x4621, 0xB1, 0x12, 0x3F, 0x1E,
                0xAE, 0x86, 0x3A, 0x7E)
__CRT_UUID_DECL(vm::framework::IEAObserver, 0x51EEC09F, 0x9306, 0x417D, 0xAC, 0xD5, 0xC1, 0x25,
                0xE6, 0x20, 0x29, 0x77)
__CRT_UUID_DECL(vm::framework::IObservers, 0x7C333FCD, 0xB2C1, 0x4110, 0xB2, 0x09, 0x58, 0xE2, 0xDE,
                0x9E, 0x4D, 0xFF)
__CRT_UUID_DECL(vm::framework::IPublisher, 0x1ED44137, 0xDA37, 0x4DCD, 0xBC, 0xD6, 0x74, 0xB2, 0xCA,
                0xF7, 0x63, 0x86)
__CRT_UUID_DECL(vm::framework::IAction, 0x207E06FD, 0xF347, 0x4FB0, 0xA2, 0x06, 0x5E, 0x90, 0xE8,
                0xE7, 0x74, 0xF3)
__CRT_UUID_DECL(vm::framework::IActions, 0x0409B4CE, 0xB75F, 0x415B, 0x83, 0x26, 0x52, 0x14, 0x85,
                0xA9, 0xC0, 0xEF)
__CRT_UUID_DECL(vm::framework::IAgent, 0x60C04E36, 0x35FD, 0x45B9, 0xBE, 0x90, 0x42, 0xB4, 0x28,
                0xA8, 0x22, 0xDF)
__CRT_UUID_DECL(vm::framework::ITrigger, 0x630F0AF0, 0x4F09, 0x46FC, 0x9C, 0xEC, 0xEE, 0x6A, 0xA6,
                0x27, 0x24, 0x44)
__CRT_UUID_DECL(vm::framework::ITriggers, 0x3230DD5D, 0x1C00, 0x482A, 0xBF, 0xC1, 0x79, 0x7C, 0xA4,
                0x2E, 0xA4, 0xDC)
__CRT_UUID_DECL(vm::framework::IWindowExtender, 0x995883F5, 0x3888, 0x4545, 0x92, 0x08, 0x5E, 0x53,
                0x9C, 0xC2, 0x0A, 0xBB)
__CRT_UUID_DECL(vm::framework::IWindowExtenders, 0xDA7B7BC1, 0x8FD4, 0x4124, 0x96, 0x1D, 0x37, 0xD2,
                0xE1, 0x04, 0x07, 0x67)
__CRT_UUID_DECL(vm::framework::IWindowExtenderOwner, 0x4F9A419D, 0xAA8A, 0x4871, 0xAE, 0x2E, 0xB4,
                0x39, 0x7F, 0x86, 0x32, 0x76)
__CRT_UUID_DECL(vm::framework::IProcessHook, 0x30DDE8EE, 0x6C22, 0x46AD, 0xAD, 0x7E, 0x64, 0x05,
                0x05, 0x03, 0xF3, 0xC2)
__CRT_UUID_DECL(vm::framework::IPlugin, 0x9EA1369F, 0xBA83, 0x482E, 0x83, 0x55, 0xAD, 0xA0, 0xEA,
                0x00, 0x98, 0xB8)
__CRT_UUID_DECL(vm::framework::IToolbox, 0xF10A2999, 0x932E, 0x4C2A, 0xB8, 0x37, 0x03, 0xF3, 0x07,
                0x96, 0xDF, 0xB2)
__CRT_UUID_DECL(vm::framework::IEmbeddedApplication, 0x42AE6D2D, 0x13C1, 0x43C0, 0x83, 0xB9, 0x1B,
                0x28, 0xCF, 0xEF, 0x7D, 0xA4)
__CRT_UUID_DECL(vm::framework::IPropChangeSubscriber, 0x9DA873E4, 0x38E4, 0x469A, 0xAC, 0x9A, 0x27,
                0x10, 0xBB, 0xBC, 0xA6, 0x1F)
__CRT_UUID_DECL(vm::framework::IServerMessageReceiver, 0x80D81052, 0xE435, 0x4E73, 0x9B, 0x19, 0x3D,
                0x43, 0xD0, 0xA4, 0xC5, 0x40)
__CRT_UUID_DECL(vm::framework::IWindowHandler, 0xEFDE4CFC, 0x4347, 0x4DAF, 0xA1, 0x2E, 0x8A, 0x86,
                0xB0, 0xF3, 0x97, 0x7A)
__CRT_UUID_DECL(vm::framework::IServerMessageDispatcher, 0x3B450743, 0x32EB, 0x43B2, 0x8B, 0xBF,
                0x41, 0x31, 0xCB, 0xF8, 0x80, 0xD3)
__CRT_UUID_DECL(vm::framework::IServerMessageRedirector, 0x762E0BDB, 0x6803, 0x4FC8, 0x84, 0x81,
                0xBB, 0xD3, 0x4F, 0xFA, 0xE5, 0x45)
