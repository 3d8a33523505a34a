#pragma once
// What the main window knows about the system task switcher (Alt+Tab). The
// state outlives the switcher by a short delay so that the container Alt+Tab
// activates can still read it. Plain data: the main window feeds it from the
// WinEvents, the hot-key notice and its timer.
#include <windows.h>

namespace vm::container {

class AltTabState {
 public:
  // The switcher opened (EVENT_SYSTEM_SWITCHSTART). Ignored while the state
  // is already set. `shift_down` is GetKeyState(VK_SHIFT) & 0x8000.
  void SwitcherStarted(int shift_down, HWND foreground);
  // WM_TC_ALTTABHOTKEY: the hook library saw the Alt+Tab hot key in Explorer.
  // `modifiers` are MOD_* flags, `foreground` the foreground window then.
  void HotKeyPressed(UINT modifiers, HWND foreground, bool windows8_or_later);
  // The switcher closed, or the foreground moved to something that is not a
  // switcher. Returns true when the closing delay should start now.
  bool SwitcherEnded() const { return invoked_; }
  // The closing delay ran out: everything is forgotten.
  void Clear();

  bool invoked() const { return invoked_; }
  bool via_hotkey() const { return via_hotkey_; }
  int direction() const { return direction_; }  // 0 forward, else backward
  HWND foreground() const { return foreground_; }

 private:
  bool invoked_ = false;
  bool via_hotkey_ = false;
  int direction_ = 0;
  HWND foreground_ = nullptr;
};

}  // namespace vm::container
