#include "hooklib/core/hotkey_text.h"

#include "common/names.h"

namespace vm::hooklib {
namespace {

// Virtual-key codes of the modifiers (as in winuser.h).
constexpr std::uint16_t kShift = 0x10;
constexpr std::uint16_t kControl = 0x11;
constexpr std::uint16_t kMenu = 0x12;
constexpr std::uint16_t kLeftWin = 0x5B;
constexpr std::uint16_t kRightWin = 0x5C;

int ModifierBit(std::uint16_t vkey) {
  switch (vkey) {
    case kLeftWin:
    case kRightWin:
      return 0;
    case kControl:
      return 1;
    case kShift:
      return 2;
    case kMenu:
      return 3;
    default:
      return -1;
  }
}

}  // namespace

std::wstring HotkeyAtomName(std::uint8_t modifiers, std::uint16_t virtual_key) {
  static constexpr const wchar_t* kNames[4] = {L"Win+", L"Ctrl+", L"Shift+", L"Alt+"};
  std::wstring name = names::kHotkeyAtomPrefix;
  for (int bit = 0; bit < 4; ++bit) {
    if (modifiers & (1u << bit)) name += kNames[bit];
  }
  name += std::to_wstring(virtual_key);
  return name;
}

std::optional<std::wstring> HotkeyTracker::OnKey(std::uint16_t virtual_key, bool released) {
  const int bit = ModifierBit(virtual_key);
  if (bit >= 0) {
    if (released) {
      modifiers_ = static_cast<std::uint8_t>(modifiers_ & ~(1u << bit));
    } else {
      modifiers_ = static_cast<std::uint8_t>(modifiers_ | (1u << bit));
    }
    return std::nullopt;
  }
  if (released) return std::nullopt;
  return HotkeyAtomName(modifiers_, virtual_key);
}

}  // namespace vm::hooklib
