#include "hooklib/app/embedded_application.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "common/control_program.h"
#include "hooklib/core/library.h"
#include "hooklib/core/library_state.h"
#include "hooklib/framework/class_registry.h"

namespace vm::hooklib {
namespace {

using control::PluginCommand;

constexpr int Code(PluginCommand command) { return static_cast<int>(command); }

std::atomic<MessengerLinkFactory> g_messenger_factory{nullptr};

}  // namespace

void SetMessengerLinkFactory(MessengerLinkFactory factory) noexcept {
  g_messenger_factory.store(factory);
}

ReceiverAddress ParseReceiverAddress(std::wstring_view receiver) noexcept {
  static constexpr std::wstring_view kPrefix = L"plugins/";
  const size_t at = receiver.find(kPrefix);
  if (at == std::wstring_view::npos) return {};
  const std::wstring_view rest = receiver.substr(at + kPrefix.size());
  const size_t slash = rest.find(L'/');
  if (slash == std::wstring_view::npos) return {rest, {}, false};
  return {rest.substr(0, slash), rest.substr(slash + 1), true};
}

std::string PackWindowValue(HWND wnd) {
  // One value-list item: its 32-bit little-endian byte count, then the low
  // 32 bits of the handle, little-endian.
  const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(wnd));
  std::string data(8, '\0');
  const std::uint32_t count = 4;
  for (int i = 0; i < 4; ++i) {
    data[i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    data[4 + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  return data;
}

EmbeddedApplication::EmbeddedApplication(Setup setup)
    : messenger_(std::move(setup.messenger)),
      owns_messenger_global_(setup.owns_messenger_global),
      is_explorer_(setup.is_explorer),
      in_light_hook_list_(setup.in_light_hook_list) {
  for (auto& plugin : setup.plugins) AddPlugin(plugin.Get());
}

EmbeddedApplication::~EmbeddedApplication() {
  messenger_.Reset();
  if (owns_messenger_global_) SetMessenger(nullptr);
}

void* EmbeddedApplication::FindInterface(REFIID riid) noexcept {
  if (void* found =
          framework::FindInterfaceIn<IServerMessageDispatcher, IEmbeddedApplication>(this, riid)) {
    return found;
  }
  return AbstractItem::FindInterface(riid);
}

std::vector<ComPtr<IPlugin>> EmbeddedApplication::PluginsInOrder() const noexcept {
  std::vector<ComPtr<IPlugin>> out;
  try {
    out.reserve(static_cast<size_t>(plugins_.Count()));
    plugins_.ForEach([&](const ComPtr<IPlugin>& plugin) { out.push_back(plugin); });
  } catch (...) {
    out.clear();
  }
  return out;
}

void EmbeddedApplication::Init() noexcept {
  // A copy: a plug-in's Init may look plug-ins up, and the references keep
  // every plug-in alive through its own call.
  const auto plugins = PluginsInOrder();
  for (const auto& plugin : plugins) plugin->Init(this);
  for (const auto& plugin : plugins) plugin->Bind();
  if (messenger_) messenger_->RegisterServerMessageDispatcher(this);
}

void EmbeddedApplication::Done() noexcept {
  // First no more messages from the control program, then the plug-ins in
  // reverse order of Init and Bind; Done breaks their references back to us.
  if (messenger_) messenger_->UnregisterServerMessageDispatcher();
  const auto plugins = PluginsInOrder();
  for (auto it = plugins.rbegin(); it != plugins.rend(); ++it) (*it)->Unbind();
  for (auto it = plugins.rbegin(); it != plugins.rend(); ++it) (*it)->Done();
  try {
    plugins_.Clear();
  } catch (...) {
  }
}

bool EmbeddedApplication::IsUnloading() noexcept { return is_unloading_.load(); }

void EmbeddedApplication::OnReloading() noexcept {
  is_unloading_.store(false);
  SetTrampolinesActive(true);
}

HWND EmbeddedApplication::GetMainCenterWindow() noexcept {
  return center_wnd_[framework::siMain].load();
}

void EmbeddedApplication::OnWindowMessage(HWND wnd, UINT& msg, WPARAM wparam,
                                          LPARAM lparam) noexcept {
  if (ComPtr<IPlugin> taskbar = GetPlugin(kTaskbarPluginName)) {
    taskbar->OnWindowMessage(wnd, msg, wparam, lparam);
  }
}

void EmbeddedApplication::AddPlugin(IPlugin* plugin) noexcept {
  if (plugin == nullptr) return;
  try {
    const std::wstring name = plugin->GetName();
    // A plug-in without a name could never be addressed.
    if (!name.empty()) plugins_.Add(ComPtr<IPlugin>(plugin), false, name);
  } catch (...) {
  }
}

ComPtr<IPlugin> EmbeddedApplication::GetPlugin(std::wstring_view plugin_name) noexcept {
  try {
    const ComPtr<IPlugin>* found = plugins_.GetItemsK(plugin_name);
    return found ? *found : nullptr;
  } catch (...) {
    return nullptr;
  }
}

bool EmbeddedApplication::NeedWinEventHook(DWORD event_id) noexcept {
  switch (event_id) {
    case EVENT_OBJECT_DESTROY:
      return is_explorer_;
    case EVENT_OBJECT_SHOW:
      return in_light_hook_list_;
    case EVENT_OBJECT_LOCATIONCHANGE:
      for (const wchar_t* name : kLocationChangePluginNames) {
        if (GetPlugin(name)) return true;
      }
      return false;
    case EVENT_OBJECT_NAMECHANGE:
      return true;
    case EVENT_OBJECT_CREATE:
    default:
      return false;
  }
}

void EmbeddedApplication::OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                              int command_code,
                                              std::string_view command_data) noexcept {
  const ReceiverAddress address = ParseReceiverAddress(receiver);
  if (address.plugin.empty()) return;
  const ComPtr<IPlugin> plugin = GetPlugin(address.plugin);
  if (!plugin) return;
  if (!address.has_sub_receiver) {
    plugin->OnMessageFromServer(command_code, command_data);
    return;
  }
  ComPtr<IServerMessageRedirector> redirector;
  if (SUCCEEDED(plugin.As(&redirector)) && redirector) {
    redirector->OnMessageFromServer(receiver_wnd, address.sub_receiver, command_code, command_data);
  }
}

void EmbeddedApplication::Broadcast(int command_code, std::string_view command_data) noexcept {
  for (const auto& plugin : PluginsInOrder())
    plugin->OnMessageFromServer(command_code, command_data);
}

void EmbeddedApplication::OnClientRegistered(HWND messenger_wnd,
                                             ServerInstance server_instance) noexcept {
  const bool shell = server_instance == framework::siShell;
  if (server_instance != framework::siMain && !shell) return;
  const HWND center = FindWindowA(
      shell ? control::kShellHandlerClassA : control::kMainHandlerClassA, control::kHandlerTitleA);
  center_wnd_[server_instance].store(center);
  try {
    Broadcast(Code(shell ? PluginCommand::ShellRegistered : PluginCommand::MainRegistered),
              PackWindowValue(messenger_wnd));
  } catch (...) {
  }
}

void EmbeddedApplication::OnClientUnregistered(ServerInstance server_instance) noexcept {
  const bool shell = server_instance == framework::siShell;
  if (server_instance != framework::siMain && !shell) return;
  center_wnd_[server_instance].store(nullptr);
  Broadcast(Code(shell ? PluginCommand::ShellUnregistered : PluginCommand::MainUnregistered), {});
}

void EmbeddedApplication::OnUnloading() noexcept {
  is_unloading_.store(true);
  // From now on the per-thread hook trampolines pass calls straight on.
  SetTrampolinesActive(false);
  Broadcast(Code(PluginCommand::LibraryUnloading), {});
}

// ---- Action classes ---------------------------------------------------------

int RegisterActionClasses(std::span<const ActionClassEntry> entries) noexcept {
  int registered = 0;
  for (const auto& entry : entries) {
    const framework::ItemClass* item_class = entry.item_class ? entry.item_class() : nullptr;
    if (item_class && framework::RegisterItemClass(*item_class, entry.name)) ++registered;
  }
  return registered;
}

std::span<const ActionClassEntry> LibraryActionClasses() noexcept {
  // Each action module supplies its class here; a class that is not built
  // into this library yet has no entry function and is skipped, and rules
  // naming it create nothing.
  static constexpr ActionClassEntry kEntries[] = {
      {framework::kBlockVisibilityActionClassName, nullptr},  // hooklib/actions: block visibility
      {framework::kFoliantActionClassName, nullptr},  // hooklib/actions: Explorer to container
  };
  return kEntries;
}

// ---- The library's application ---------------------------------------------

ApplicationHooks* CreateLibraryApplication() noexcept {
  try {
    static std::once_flag classes_registered;
    std::call_once(classes_registered, [] { RegisterActionClasses(LibraryActionClasses()); });

    EmbeddedApplication::Setup setup;
    setup.plugins = CreateRegisteredPlugins();
    if (MessengerLinkFactory factory = g_messenger_factory.load()) {
      setup.messenger = factory();
      setup.owns_messenger_global = setup.messenger != nullptr;
    }
    setup.is_explorer = CurrentProcessFlags().explorer;
    setup.in_light_hook_list = CurrentHookModes().get_message_only;
    ComPtr<EmbeddedApplication> app = framework::MakeCom<EmbeddedApplication>(std::move(setup));
    if (!app) return nullptr;
    return static_cast<ApplicationHooks*>(app.Detach());
  } catch (...) {
    return nullptr;
  }
}

namespace {
// Registered while the library's modules are initialised, before the first
// hook call starts the library and asks the core for its application.
const bool g_application_factory_set = (SetApplicationFactory(&CreateLibraryApplication), true);
}  // namespace

}  // namespace vm::hooklib
