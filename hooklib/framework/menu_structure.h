#pragma once
// The menu-structure text an action may give for its caption-button menu:
// a parameter text whose "item" entries are the menu's items and whose
// "image_list" entries describe its image list.
//
//   item={name=Pin\Caption=Pin\checked=1}\item={type=separator}
//   \item={name=More\Caption=More\items={item={name=A\Caption=A}}}
//
// Read here into a plain tree without windows.h (unit tested natively); the
// caller turns hexadecimal captions into text and builds the menu. The text
// comes from an action, but stays bounded all the same: nesting deeper
// than kMaxMenuNesting makes no further submenus.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::framework {

inline constexpr int kMaxMenuNesting = 16;
inline constexpr std::uint32_t kNoMaskColor = 0x1FFFFFFF;

enum class MenuBreak { None, Column, ColumnWithLine };

struct MenuItemSpec {
  std::wstring name;
  std::wstring caption;
  // "hex_caption": bytes of an ANSI caption, to be read in the system code
  // page; replaces the caption when present.
  std::optional<std::vector<std::uint8_t>> hex_caption;
  bool enabled = true;
  bool checked = false;
  bool visible = true;
  bool separator = false;  // caption "-"
  MenuBreak menu_break = MenuBreak::None;
  int image_index = -1;
  std::wstring res_name;
  bool has_submenu = false;  // "items" given: no click of its own
  std::vector<MenuItemSpec> items;
};

struct ImageListSpec {
  int width = 0;
  int height = 0;
  // Bitmap resources in order, each with the mask colour in effect when it
  // was named.
  std::vector<std::pair<std::wstring, std::uint32_t>> bitmaps;
};

struct MenuSpec {
  std::vector<MenuItemSpec> items;
  std::optional<ImageListSpec> image_list;  // the last "image_list" entry
};

MenuSpec ParseMenuStructure(std::wstring_view text);

}  // namespace vm::framework
