#include "hooklib/app/plugin.h"

#include <array>
#include <atomic>

namespace vm::hooklib {

void AbstractPlugin::OnMessageFromServer(int, std::string_view) noexcept {}
void AbstractPlugin::OnWindowMessage(HWND, UINT&, WPARAM, LPARAM) noexcept {}

namespace {

// A fixed table written during static initialisation of the plug-in modules
// (before anything reads it), so no allocation and no lock in the loader's
// attach path.
constexpr size_t kMaxPluginFactories = 8;
std::array<std::atomic<PluginFactory>, kMaxPluginFactories> g_factories{};

}  // namespace

bool RegisterPluginFactory(PluginFactory factory) noexcept {
  if (factory == nullptr) return false;
  for (auto& slot : g_factories) {
    PluginFactory expected = nullptr;
    if (slot.compare_exchange_strong(expected, factory)) return true;
    if (expected == factory) return false;
  }
  return false;
}

std::vector<ComPtr<IPlugin>> CreateRegisteredPlugins() noexcept {
  std::vector<ComPtr<IPlugin>> plugins;
  try {
    for (auto& slot : g_factories) {
      const PluginFactory factory = slot.load();
      if (factory == nullptr) break;
      if (ComPtr<IPlugin> plugin = factory()) plugins.push_back(std::move(plugin));
    }
  } catch (...) {
  }
  return plugins;
}

}  // namespace vm::hooklib
