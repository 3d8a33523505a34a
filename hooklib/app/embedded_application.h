#pragma once
// The one embedded application of a hooked process: it owns the plug-ins,
// receives everything the messenger client gets from the control program and
// routes it to plug-ins by receiver address, remembers the control program's
// handler windows and answers the hooks' questions about WinEvents.
#include <windows.h>

#include <array>
#include <atomic>
#include <span>
#include <string_view>
#include <vector>

#include "hooklib/app/plugin.h"
#include "hooklib/core/hook_seams.h"
#include "hooklib/framework/collections.h"
#include "hooklib/framework/item.h"

namespace vm::hooklib {

using framework::IEmbeddedApplication;
using framework::IServerMessageDispatcher;
using framework::IServerMessageRedirector;
using framework::ServerInstance;

// What the application needs of the messenger client: to be told the
// control program's messages and registration changes. The messenger client
// implements it; tests use a recorder.
struct MessengerLink : IUnknown {
  virtual void STDMETHODCALLTYPE
  RegisterServerMessageDispatcher(IServerMessageDispatcher* dispatcher) noexcept = 0;
  virtual void STDMETHODCALLTYPE UnregisterServerMessageDispatcher() noexcept = 0;
};

// Makes the messenger client (which publishes itself as the library's
// messenger); registered by the messenger module before the library starts.
using MessengerLinkFactory = ComPtr<MessengerLink> (*)() noexcept;
void SetMessengerLinkFactory(MessengerLinkFactory factory) noexcept;

// Names of the plug-ins of the maker's other tools that the application
// looks for. None of them is part of this library.
inline constexpr wchar_t kTaskbarPluginName[] = L"SiblingTaskbar";
inline constexpr const wchar_t* kLocationChangePluginNames[] = {
    L"SiblingWindowSnap", L"SiblingWindowPin", L"SiblingDesktopDivider", L"SiblingWindowShade"};

class EmbeddedApplication : public framework::AbstractItem<framework::IItem>,
                            public IServerMessageDispatcher,
                            public IEmbeddedApplication,
                            public ApplicationHooks {
 public:
  VM_DECLARE_UNKNOWN

  struct Setup {
    // Added with AddPlugin in this order (the library: the rule dispatcher).
    std::vector<ComPtr<IPlugin>> plugins;
    // Null until the messenger client exists in this build.
    ComPtr<MessengerLink> messenger;
    // Drop the library's messenger global when the application goes.
    bool owns_messenger_global = false;
    // Facts of the host process, from the process flags.
    bool is_explorer = false;         // explorer.exe
    bool in_light_hook_list = false;  // the lighter hook set
  };

  explicit EmbeddedApplication(Setup setup);
  ~EmbeddedApplication() override;

  // IEmbeddedApplication (and the core's ApplicationHooks, which names the
  // same operations).
  void STDMETHODCALLTYPE Init() noexcept override;
  void STDMETHODCALLTYPE Done() noexcept override;
  bool STDMETHODCALLTYPE IsUnloading() noexcept override;
  void STDMETHODCALLTYPE OnReloading() noexcept override;
  HWND STDMETHODCALLTYPE GetMainCenterWindow() noexcept override;
  void STDMETHODCALLTYPE OnWindowMessage(HWND wnd, UINT& msg, WPARAM wparam,
                                         LPARAM lparam) noexcept override;
  void STDMETHODCALLTYPE AddPlugin(IPlugin* plugin) noexcept override;
  ComPtr<IPlugin> STDMETHODCALLTYPE GetPlugin(std::wstring_view plugin_name) noexcept override;
  bool STDMETHODCALLTYPE NeedWinEventHook(DWORD event_id) noexcept override;

  // IServerMessageDispatcher
  void STDMETHODCALLTYPE OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                             int command_code,
                                             std::string_view command_data) noexcept override;
  void STDMETHODCALLTYPE OnClientRegistered(HWND messenger_wnd,
                                            ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE OnClientUnregistered(ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE OnUnloading() noexcept override;

  void* FindInterface(REFIID riid) noexcept override;

 private:
  // Calls OnMessageFromServer of every plug-in, in collection order.
  void Broadcast(int command_code, std::string_view command_data) noexcept;
  std::vector<ComPtr<IPlugin>> PluginsInOrder() const noexcept;

  framework::InterfaceCollection<IPlugin> plugins_;  // FPlugins, keyed by plug-in name
  std::array<std::atomic<HWND>, framework::kServerInstanceCount> center_wnd_{};  // FCenterWnd
  std::atomic<bool> is_unloading_{false};                                        // FIsUnloading
  ComPtr<MessengerLink> messenger_;
  bool owns_messenger_global_ = false;
  bool is_explorer_ = false;
  bool in_light_hook_list_ = false;
};

// Where a receiver address points: "plugins/Name" or "plugins/Name/sub",
// found anywhere in the text (the first "plugins/").
struct ReceiverAddress {
  std::wstring_view plugin;
  std::wstring_view sub_receiver;
  bool has_sub_receiver = false;
};
// Empty plug-in name (nothing to route to) when the prefix is missing.
ReceiverAddress ParseReceiverAddress(std::wstring_view receiver) noexcept;

// Plug-in command data of "registered": a value list with one 32-bit value,
// the messenger window handle.
std::string PackWindowValue(HWND wnd);

// The action classes window rules name, registered in the item class
// registry when the library starts. An entry whose class is not part of the
// build (item_class null) is skipped. Returns how many were registered.
struct ActionClassEntry {
  const wchar_t* name;
  const framework::ItemClass* (*item_class)() noexcept;
};
int RegisterActionClasses(std::span<const ActionClassEntry> entries) noexcept;
// The library's own list: "BLOCKVISIBILITYACTION" and "FOLIANTACTION".
std::span<const ActionClassEntry> LibraryActionClasses() noexcept;

// The library's application: action classes registered, the registered
// plug-ins and messenger made, the process facts read. An owned reference
// for the core's start-up, or null.
ApplicationHooks* CreateLibraryApplication() noexcept;

}  // namespace vm::hooklib
