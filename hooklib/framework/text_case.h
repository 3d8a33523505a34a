#pragma once
// Case-insensitive comparison of keys. Keys are UTF-16 (on Linux, where this
// code is fuzzed, wchar_t is wider but holds the same code units). The
// folding is a fixed table (ASCII, Latin-1, Latin Extended-A, Greek,
// Cyrillic) rather than the current locale, so that every process, and
// every thread whatever its locale, orders and matches the same keys alike.
#include <string>
#include <string_view>

namespace vm::framework {

wchar_t FoldCase(wchar_t c) noexcept;
std::wstring FoldCase(std::wstring_view s);
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept;
// <0, 0, >0 like wcscmp, on the folded texts (ordinal).
int CompareIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept;

}  // namespace vm::framework
