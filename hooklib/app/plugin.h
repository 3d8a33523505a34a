#pragma once
// Plug-ins of the embedded application: named parts that receive the control
// program's commands. This library has one, the rule dispatcher; the host is
// written for any number.
#include <windows.h>

#include <string_view>
#include <vector>

#include "hooklib/framework/item.h"

namespace vm::hooklib {

using framework::ComPtr;
using framework::IPlugin;

// Base of plug-ins: Init keeps the owner (the application), Done drops it,
// the rest does nothing until a plug-in overrides it.
class AbstractPlugin : public framework::AbstractSlave<IPlugin> {
 public:
  void STDMETHODCALLTYPE OnMessageFromServer(int command_code,
                                             std::string_view command_data) noexcept override;
  void STDMETHODCALLTYPE OnWindowMessage(HWND wnd, UINT& msg, WPARAM wparam,
                                         LPARAM lparam) noexcept override;

 protected:
  explicit AbstractPlugin(std::wstring_view name) : AbstractSlave(name) {}
};

// The plug-ins a process's application starts with, in the order they are
// added. A plug-in module registers its factory once, before the library
// starts (static initialisation is early enough); the application's factory
// makes one of each. Registering the same factory twice adds nothing.
using PluginFactory = ComPtr<IPlugin> (*)() noexcept;
bool RegisterPluginFactory(PluginFactory factory) noexcept;
// A new instance from every registered factory that makes one, in order.
std::vector<ComPtr<IPlugin>> CreateRegisteredPlugins() noexcept;

}  // namespace vm::hooklib
