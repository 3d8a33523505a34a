// The menu-structure text of an action's caption-button menu: items with
// their keys, separators and column breaks, submenus, the image list, and
// hostile nesting. Built natively (sanitizers) and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "hooklib/framework/menu_structure.h"

namespace vm::framework {
namespace {

TEST(MenuStructure, ItemsTakeTheirKeysAndSubmenusNest) {
  const MenuSpec spec = ParseMenuStructure(
      L"item={name=Pin\\Caption=Pin it\\checked=1\\Enabled=0\\image_index=3\\res_name=PIN}"
      L"\\item={type=separator}\\item={name=Col\\type=menubreak}"
      L"\\item={name=Bar\\type=menubarbreak\\image_index=x\\caption=lower}"
      L"\\item={name=Hex\\Caption=plain\\hex_caption=41424}"
      L"\\item={name=More\\items={item={name=A\\Caption=A}\\item={name=B}}}"
      L"\\other=1");
  ASSERT_EQ(spec.items.size(), 6u);
  const MenuItemSpec& pin = spec.items[0];
  EXPECT_EQ(pin.name, L"Pin");
  EXPECT_EQ(pin.caption, L"Pin it");
  EXPECT_TRUE(pin.checked);
  EXPECT_FALSE(pin.enabled);
  EXPECT_TRUE(pin.visible);
  EXPECT_EQ(pin.image_index, 3);
  EXPECT_EQ(pin.res_name, L"PIN");
  EXPECT_TRUE(spec.items[1].separator);
  EXPECT_EQ(spec.items[1].caption, L"-");
  EXPECT_EQ(spec.items[2].menu_break, MenuBreak::Column);
  EXPECT_EQ(spec.items[3].menu_break, MenuBreak::ColumnWithLine);
  EXPECT_EQ(spec.items[3].image_index, -1);  // not a number
  EXPECT_EQ(spec.items[3].caption, L"");     // "Caption" only, with its capital C
  ASSERT_TRUE(spec.items[4].hex_caption.has_value());
  EXPECT_EQ(*spec.items[4].hex_caption, (std::vector<std::uint8_t>{0x41, 0x42}));
  const MenuItemSpec& more = spec.items[5];
  EXPECT_TRUE(more.has_submenu);
  ASSERT_EQ(more.items.size(), 2u);
  EXPECT_EQ(more.items[0].caption, L"A");
  EXPECT_EQ(more.items[1].name, L"B");
  EXPECT_FALSE(pin.has_submenu);
  EXPECT_FALSE(spec.image_list.has_value());
}

TEST(MenuStructure, TheLastImageListWinsAndBitmapsKeepTheMaskInEffect) {
  const MenuSpec spec = ParseMenuStructure(
      L"image_list={width=8\\res_name=OLD}\\image_list={width=16\\height=z\\res_name=A"
      L"\\mask_color=255\\res_name=B\\mask_color=-4\\res_name=C}");
  ASSERT_TRUE(spec.image_list.has_value());
  const ImageListSpec& list = *spec.image_list;
  EXPECT_EQ(list.width, 16);
  EXPECT_EQ(list.height, 0);
  using Bitmap = std::pair<std::wstring, std::uint32_t>;
  EXPECT_EQ(list.bitmaps,
            (std::vector<Bitmap>{{L"A", kNoMaskColor}, {L"B", 255u}, {L"C", kNoMaskColor}}));
}

TEST(MenuStructure, DeepNestingStopsMakingSubmenus) {
  std::wstring text = L"name=leaf";
  for (int i = 0; i < 200; ++i) text = L"name=n\\items={item={" + text + L"}}";
  const MenuSpec spec = ParseMenuStructure(L"item={" + text + L"}");
  ASSERT_EQ(spec.items.size(), 1u);
  int depth = 0;
  for (const MenuItemSpec* item = &spec.items[0]; !item->items.empty(); item = &item->items[0])
    ++depth;
  EXPECT_EQ(depth, kMaxMenuNesting - 1);
  EXPECT_TRUE(ParseMenuStructure(L"").items.empty());
  EXPECT_TRUE(ParseMenuStructure(L"item").items.empty());
}

}  // namespace
}  // namespace vm::framework
