#include "container/container_theme.h"

#include <cwctype>

#include "common/system_info.h"
#include "container/dark_mode.h"
#include "container/docked_window_calls.h"

namespace vm::container {

bool IsColorSetChange(const wchar_t* area) noexcept {
  if (area == nullptr) return false;
  const wchar_t* want = kColorSetChange;
  for (; *want != L'\0'; ++want, ++area) {
    if (*area == L'\0' || std::towlower(*area) != std::towlower(*want)) return false;
  }
  return *area == L'\0';
}

bool ContainerTheme::Refresh(HWND container, bool active) noexcept {
  const auto& os = Os();
  if (!os.flags.windows10_or_later || container == nullptr) return false;
  const bool wanted = IsDarkThemeWanted(os.record.build);
  if (wanted == dark_) return false;
  // All bits set means dark; the DWM reads a 4-byte value.
  const DWORD value = wanted ? 0xFFFFFFFFu : 0u;
  if (FAILED(Api().DwmSetWindowAttribute(container, ImmersiveDarkModeAttribute(os.record.build),
                                         &value, sizeof(value)))) {
    return false;
  }
  dark_ = wanted;
  // The frame takes the new colours when it is drawn as the other state and
  // back again.
  PostMessageW(container, WM_NCACTIVATE, active ? FALSE : TRUE, 0);
  PostMessageW(container, WM_NCACTIVATE, active ? TRUE : FALSE, 0);
  return true;
}

void ForwardSettingChange(const std::vector<HWND>& windows, WPARAM wparam, LPARAM lparam) noexcept {
  for (HWND window : windows) {
    if (IsWindow(window)) SendBounded(window, WM_SETTINGCHANGE, wparam, lparam);
  }
}

}  // namespace vm::container
