#pragma once
// Tab commands: the WM_COMMAND ids the accelerator tables produce and the
// container window executes, and the choice of the tab a command selects.
// No windows.h here, so the choice is plain code (tested as a table, fuzzable).
#include <cstdint>

namespace vm {

inline constexpr std::uint16_t CMD_TAB_SELECT1 = 0x8001;  // ... CMD_TAB_SELECT1 + 7 is tab 8
inline constexpr std::uint16_t CMD_TAB_SELECT8 = 0x8008;
inline constexpr std::uint16_t CMD_TAB_SELECTLAST = 0x8009;
inline constexpr std::uint16_t CMD_TAB_NEXT = 0x800A;
inline constexpr std::uint16_t CMD_TAB_PREVIOUS = 0x800B;
inline constexpr std::uint16_t CMD_TAB_CLOSE = 0x800C;
inline constexpr std::uint16_t CMD_TAB_NEW = 0x800D;
inline constexpr std::uint16_t CMD_TAB_NEWCONTAINER = 0x800E;
inline constexpr std::uint16_t CMD_TAB_FOCUSWINDOW = 0x800F;

inline constexpr std::uint16_t kFirstTabCommand = CMD_TAB_SELECT1;
inline constexpr std::uint16_t kLastTabCommand = CMD_TAB_FOCUSWINDOW;

constexpr bool IsTabCommand(std::uint32_t id) {
  return id >= kFirstTabCommand && id <= kLastTabCommand;
}

// The tab command carried by a WM_COMMAND, or 0 when the message is not one:
// only commands from an accelerator (high word of wParam 1) with an id of
// ours count; anything else gets the window's default handling.
constexpr std::uint16_t TabCommandFromWParam(std::uint64_t wparam) {
  const auto id = static_cast<std::uint16_t>(wparam & 0xFFFF);
  const auto source = static_cast<std::uint16_t>((wparam >> 16) & 0xFFFF);
  return source == 1 && IsTabCommand(id) ? id : 0;
}

// What the container does for a command, given its tabs.
struct TabCommandAction {
  enum class Kind : std::uint8_t {
    None,          // nothing to do (unknown id, no such tab, no tabs)
    Select,        // make `index` the active tab and bring its window forward
    CloseActive,   // close the active tab
    NewTab,        // open a folder window as a new tab of this container
    NewContainer,  // open a folder window in a new container
    FocusWindow,   // move the focus into the active tab's window
  };
  Kind kind = Kind::None;
  int index = -1;  // only for Select

  friend constexpr bool operator==(const TabCommandAction&, const TabCommandAction&) = default;
};

// Ctrl+1..8 select that tab when it exists, Ctrl+9 the last one; next and
// previous wrap around (with one tab they select it again). `active_index`
// may be -1 (no active tab): next then starts at the first tab, previous at
// the last. Negative or empty counts select nothing.
TabCommandAction ResolveTabCommand(std::uint32_t command, int tab_count, int active_index);

}  // namespace vm
