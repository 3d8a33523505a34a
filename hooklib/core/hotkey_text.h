#pragma once
// The product's hot keys as the control program announces them: one global
// atom per key, named "VXHotkey_{...}" + the modifiers held ("Win+", "Ctrl+",
// "Shift+", "Alt+", in this order) + the virtual-key code in decimal. This
// tracks the modifiers from raw keyboard input and names the atom to look up.
#include <cstdint>
#include <optional>
#include <string>

namespace vm::hooklib {

class HotkeyTracker {
 public:
  // One raw key event. Modifier keys update the state and answer nothing;
  // another key answers the atom name on press and nothing on release.
  std::optional<std::wstring> OnKey(std::uint16_t virtual_key, bool released);
  std::uint8_t modifiers() const { return modifiers_; }

 private:
  std::uint8_t modifiers_ = 0;  // bit 0 Win, 1 Ctrl, 2 Shift, 3 Alt
};

std::wstring HotkeyAtomName(std::uint8_t modifiers, std::uint16_t virtual_key);

}  // namespace vm::hooklib
