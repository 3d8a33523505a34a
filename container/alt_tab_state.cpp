#include "container/alt_tab_state.h"

namespace vm::container {

void AltTabState::SwitcherStarted(int shift_down, HWND foreground) {
  // The hot-key notice may have come first; it knows more (the direction
  // from the hot key itself), so a later switch-start event keeps it.
  if (invoked_) return;
  invoked_ = true;
  via_hotkey_ = false;
  direction_ = shift_down;
  foreground_ = foreground;
}

void AltTabState::HotKeyPressed(UINT modifiers, HWND foreground, bool windows8_or_later) {
  invoked_ = true;
  via_hotkey_ = true;
  direction_ = static_cast<int>(modifiers & MOD_SHIFT);
  // Before Windows 8, and with Ctrl+Alt+Tab (the switcher stays open), the
  // window the hot key saw tells nothing about where the user is going.
  foreground_ = windows8_or_later && (modifiers & MOD_CONTROL) == 0 ? foreground : nullptr;
}

void AltTabState::Clear() { *this = AltTabState(); }

}  // namespace vm::container
