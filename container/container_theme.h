#pragma once
// The container's light or dark look, which follows the user's choice for
// applications, and the settings-change notices it passes on to the windows
// docked in it (Explorer re-colours itself on them).
#include <windows.h>

#include <vector>

namespace vm::container {

// The area name Windows sends with WM_SETTINGCHANGE when the user switches
// between light and dark applications.
inline constexpr wchar_t kColorSetChange[] = L"ImmersiveColorSet";

// True when a WM_SETTINGCHANGE area names the colour-set change, in any case.
// Null or anything else is an ordinary settings change.
bool IsColorSetChange(const wchar_t* area) noexcept;

class ContainerTheme {
 public:
  // Decides the look again (Windows 10 or later only). When it differs from
  // the current one the container's frame is switched with the DWM's dark
  // attribute; the new look is kept only when the DWM took it, and the frame
  // is made to repaint. `active` is the frame's current active state. True
  // when the look changed.
  bool Refresh(HWND container, bool active) noexcept;
  bool dark() const { return dark_; }
  // The window is gone: a recreated one has to set its attribute again.
  void Forget() { dark_ = false; }

 private:
  bool dark_ = false;
};

// Sends the notice to each window in turn. Every send is bounded: a docked
// Explorer window that hangs must not freeze the container with it.
void ForwardSettingChange(const std::vector<HWND>& windows, WPARAM wparam, LPARAM lparam) noexcept;

}  // namespace vm::container
