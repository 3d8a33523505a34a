#include "hooklib/framework/text_case.h"

namespace vm::framework {

wchar_t FoldCase(wchar_t c) noexcept {
  const unsigned u = static_cast<unsigned>(c);
  if (u < 0x80) return (u >= 'a' && u <= 'z') ? static_cast<wchar_t>(u - 0x20) : c;
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<wchar_t>(u - 0x20);
  if (u == 0xFF) return static_cast<wchar_t>(0x178);
  // Latin Extended-A: upper/lower pairs, the parity of the upper case letter
  // flips at U+0139 and again at U+014A and U+0179.
  if ((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) {
    if (u == 0x131) return c;  // dotless i has no simple upper-case pair here
    return (u & 1) ? static_cast<wchar_t>(u - 1) : c;
  }
  if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) {
    return (u & 1) ? c : static_cast<wchar_t>(u - 1);
  }
  // Greek: final sigma folds with sigma.
  if (u == 0x3C2) return static_cast<wchar_t>(0x3A3);
  if (u >= 0x3B1 && u <= 0x3CB) return static_cast<wchar_t>(u - 0x20);
  if (u >= 0x3AC && u <= 0x3AF) {
    static constexpr unsigned kTonos[] = {0x386, 0x388, 0x389, 0x38A};
    return static_cast<wchar_t>(kTonos[u - 0x3AC]);
  }
  // Cyrillic.
  if (u >= 0x430 && u <= 0x44F) return static_cast<wchar_t>(u - 0x20);
  if (u >= 0x450 && u <= 0x45F) return static_cast<wchar_t>(u - 0x50);
  return c;
}

std::wstring FoldCase(std::wstring_view s) {
  std::wstring out(s);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

int CompareIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned long>(FoldCase(a[i]));
    const auto y = static_cast<unsigned long>(FoldCase(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace vm::framework
