#pragma once
// Keys that Windows applies to the focused docked window instead of its
// container: Alt+Esc, Alt+Space (the system menu), and on Windows 7 or later
// Win+Home and Win+arrows (Aero Shake and Snap). The low-level keyboard hook
// forwards them to the container, which replays them on itself. Plain code.
#include <windows.h>

namespace vm::container {

struct KeyEvent {
  WPARAM message = 0;  // WM_KEYDOWN, WM_SYSKEYDOWN, ...
  DWORD vk = 0;
  DWORD flags = 0;  // KBDLLHOOKSTRUCT flags
  bool windows_key_down = false;
};

// Whether the key belongs to the container rather than to the docked window.
// Injected keys (SendInput, including the container's own replay) never do.
bool KeyBelongsToContainer(const KeyEvent& key, bool windows7_or_later);

// lParam of WM_TC_FORWARDKEY: the virtual key in the high word, the message below.
inline LPARAM ForwardKeyLParam(const KeyEvent& key) {
  return static_cast<LPARAM>((static_cast<ULONG_PTR>(key.vk) << 16) | (key.message & 0xFFFF));
}

}  // namespace vm::container
