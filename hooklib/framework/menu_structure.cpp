#include "hooklib/framework/menu_structure.h"

#include "hooklib/framework/param_text.h"
#include "hooklib/framework/variant.h"

namespace vm::framework {
namespace {

int IntOr(std::wstring_view value, int fallback) {
  const std::int64_t v = VariantToInt(Variant{std::wstring(value)}, fallback);
  return v < INT32_MIN || v > INT32_MAX ? fallback : static_cast<int>(v);
}

bool Bool(std::wstring_view value, bool fallback) {
  return VariantToBool(Variant{std::wstring(value)}, fallback);
}

void ParseItems(std::wstring_view text, std::vector<MenuItemSpec>& items,
                std::optional<ImageListSpec>* image_list, int depth);

MenuItemSpec ParseItem(std::wstring_view text, int depth) {
  MenuItemSpec item;
  ForEachParam<wchar_t>(text, [&](const ParamEntry& e) {
    if (e.name == L"name") {
      item.name.assign(e.value);
    } else if (e.name == L"Caption") {
      item.caption.assign(e.value);
    } else if (e.name == L"hex_caption") {
      item.hex_caption = HexToBytes<wchar_t>(e.value);
    } else if (e.name == L"Enabled") {
      item.enabled = Bool(e.value, item.enabled);
    } else if (e.name == L"checked") {
      item.checked = Bool(e.value, item.checked);
    } else if (e.name == L"type") {
      if (e.value == L"separator") {
        item.separator = true;
        item.caption = L"-";
      } else if (e.value == L"menubreak") {
        item.menu_break = MenuBreak::Column;
      } else if (e.value == L"menubarbreak") {
        item.menu_break = MenuBreak::ColumnWithLine;
      }
    } else if (e.name == L"items") {
      item.has_submenu = true;
      if (depth + 1 < kMaxMenuNesting) ParseItems(e.value, item.items, nullptr, depth + 1);
    } else if (e.name == L"image_index") {
      item.image_index = IntOr(e.value, -1);
    } else if (e.name == L"res_name") {
      item.res_name.assign(e.value);
    }
  });
  return item;
}

ImageListSpec ParseImageList(std::wstring_view text) {
  ImageListSpec list;
  std::uint32_t mask = kNoMaskColor;
  ForEachParam<wchar_t>(text, [&](const ParamEntry& e) {
    if (e.name == L"mask_color") {
      const std::int64_t v = VariantToInt(Variant{std::wstring(e.value)}, kNoMaskColor);
      mask = v < 0 || v > 0xFFFFFFFFll ? kNoMaskColor : static_cast<std::uint32_t>(v);
    } else if (e.name == L"width") {
      list.width = IntOr(e.value, 0);
    } else if (e.name == L"height") {
      list.height = IntOr(e.value, 0);
    } else if (e.name == L"res_name") {
      list.bitmaps.emplace_back(std::wstring(e.value), mask);
    }
  });
  return list;
}

void ParseItems(std::wstring_view text, std::vector<MenuItemSpec>& items,
                std::optional<ImageListSpec>* image_list, int depth) {
  ForEachParam<wchar_t>(text, [&](const ParamEntry& e) {
    if (e.name == L"item") {
      items.push_back(ParseItem(e.value, depth));
    } else if (e.name == L"image_list" && image_list != nullptr) {
      *image_list = ParseImageList(e.value);
    }
  });
}

}  // namespace

MenuSpec ParseMenuStructure(std::wstring_view text) {
  MenuSpec spec;
  ParseItems(text, spec.items, &spec.image_list, 0);
  return spec;
}

}  // namespace vm::framework
