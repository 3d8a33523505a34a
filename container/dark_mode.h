#pragma once
// Whether the container is drawn dark, decided as the shell decides for
// applications: the per-user "AppsUseLightTheme" choice on current Windows 10
// and 11, the undocumented uxtheme query on the builds between, light before.
#include <cstdint>
#include <optional>

namespace vm::container {

// What the decision depends on, read from the system by ReadDarkModeInputs.
struct DarkModeInputs {
  std::uint32_t build = 0;                   // Windows build number
  bool apps_use_light_theme = false;         // HKCU first, missing = false
  std::optional<bool> should_apps_use_dark;  // uxtheme ordinal 132, when exported
};

// Build 18362 and later: dark unless the user chose light apps. Up to 17727
// (and every system before Windows 10): light. Between: the uxtheme answer,
// light when that entry point is missing.
bool DarkThemeWanted(const DarkModeInputs& in);

// The DWM attribute that switches a window's frame dark: 20 from build 19023,
// 19 on the builds before that knew it.
std::uint32_t ImmersiveDarkModeAttribute(std::uint32_t build);

// Reads the registry value and, only on the builds that need it, the uxtheme
// entry point. `build` comes from the system information routines.
DarkModeInputs ReadDarkModeInputs(std::uint32_t build);

inline bool IsDarkThemeWanted(std::uint32_t build) {
  return DarkThemeWanted(ReadDarkModeInputs(build));
}

}  // namespace vm::container
