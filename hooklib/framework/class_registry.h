#pragma once
// The process's item class registry: registered name -> class. Window rules
// name their parts by these names ("FOLIANTACTION{name=Foliant\...}"), and
// every part is made here from such a text.
//
// Filled while the library starts (each module registers its own classes)
// and only read afterwards; a lock still guards it so that a late or test
// registration can never tear a concurrent lookup.
#include <string_view>

#include "hooklib/framework/item.h"

namespace vm::framework {

// The names window rules use (all upper case; compared case-insensitively).
inline constexpr wchar_t kOperationClassName[] = L"OPERATION";
inline constexpr wchar_t kWindowExtenderClassName[] = L"WINDOWEXTENDER";
inline constexpr wchar_t kBlockVisibilityActionClassName[] = L"BLOCKVISIBILITYACTION";
inline constexpr wchar_t kFoliantActionClassName[] = L"FOLIANTACTION";
inline constexpr wchar_t kOpenSaveStdDialogToolboxClassName[] = L"OPENSAVESTDDIALOGTOOLBOX";
inline constexpr wchar_t kDirectoryOpusToolboxClassName[] = L"DIRECTORYOPUSTOOLBOX";
inline constexpr wchar_t kTotalCommanderToolboxClassName[] = L"TOTALCOMMANDERTOOLBOX";

// Items made from items' parameter texts (an extender makes its actions,
// an action its operations) nest a few levels at most; a text that nests
// deeper is hostile and makes nothing.
inline constexpr int kMaxItemNesting = 16;

// False for an empty name, a name already registered or a class that cannot
// be instantiated.
bool RegisterItemClass(const ItemClass& item_class, std::wstring_view name) noexcept;
template <class T>
bool RegisterItemClass(std::wstring_view name) noexcept {
  return RegisterItemClass(ItemClassOf<T>(), name);
}
// Removes a registration (module finalisation, tests).
bool UnregisterItemClass(std::wstring_view name) noexcept;

// The class registered under that name, or null.
const ItemClass* FindItemClass(std::wstring_view name) noexcept;

// A new instance of the class registered under name, constructed with the
// parameter text; null when the name is not registered (callers then simply
// do without that part).
ComPtr<IItem> CreateItem(std::wstring_view name, std::wstring_view params) noexcept;

// "CLASS{params}" or "CLASS": the class name is the text before the first
// "{", the parameters what follows it up to, not including, the last
// character; then as CreateItem.
ComPtr<IItem> CreateItemFromText(std::wstring_view text) noexcept;

}  // namespace vm::framework
