#include "container/dark_mode.h"

#include <windows.h>
#include <shlwapi.h>

namespace vm::container {
namespace {

constexpr std::uint32_t kFirstRegistryBuild = 18362;
constexpr std::uint32_t kLastLightBuild = 17727;
constexpr std::uint32_t kAttribute20Build = 19023;

}  // namespace

bool DarkThemeWanted(const DarkModeInputs& in) {
  if (in.build >= kFirstRegistryBuild) return !in.apps_use_light_theme;
  if (in.build <= kLastLightBuild) return false;
  return in.should_apps_use_dark.value_or(false);
}

std::uint32_t ImmersiveDarkModeAttribute(std::uint32_t build) {
  return build >= kAttribute20Build ? 20u : 19u;
}

DarkModeInputs ReadDarkModeInputs(std::uint32_t build) {
  DarkModeInputs in;
  in.build = build;
  if (build >= kFirstRegistryBuild) {
    in.apps_use_light_theme =
        SHRegGetBoolUSValueA("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                             "AppsUseLightTheme", FALSE, FALSE) != FALSE;
  } else if (build > kLastLightBuild) {
    // Exported by ordinal only, and only on these builds; looked up each time
    // because the decision is rare (settings changes).
    if (HMODULE uxtheme = GetModuleHandleW(L"uxtheme.dll")) {
      using ShouldAppsUseDarkMode = BOOL(WINAPI*)();
      auto fn =
          reinterpret_cast<ShouldAppsUseDarkMode>(GetProcAddress(uxtheme, MAKEINTRESOURCEA(132)));
      if (fn != nullptr) in.should_apps_use_dark = fn() != FALSE;
    }
  }
  return in;
}

}  // namespace vm::container
