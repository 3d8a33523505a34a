#include "hooklib/framework/variant.h"

#include <type_traits>

#include "hooklib/framework/text_case.h"

namespace vm::framework {
namespace {

std::wstring_view TrimBlanks(std::wstring_view s) noexcept {
  while (!s.empty() && static_cast<unsigned long>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned long>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

std::optional<std::int64_t> ParseDecimal(std::wstring_view s) noexcept {
  s = TrimBlanks(s);
  bool negative = false;
  if (!s.empty() && (s.front() == L'-' || s.front() == L'+')) {
    negative = s.front() == L'-';
    s.remove_prefix(1);
  }
  // 18 digits cannot overflow; longer texts are not numbers we accept.
  if (s.empty() || s.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (wchar_t c : s) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<std::int64_t> VariantPosition(const Variant& v) noexcept {
  if (auto p = std::get_if<std::int16_t>(&v)) return *p;
  if (auto p = std::get_if<std::int32_t>(&v)) return *p;
  if (auto p = std::get_if<std::uint8_t>(&v)) return *p;
  if (auto p = std::get_if<std::uint32_t>(&v)) return *p;
  return std::nullopt;
}

const std::wstring* VariantKey(const Variant& v) noexcept { return std::get_if<std::wstring>(&v); }

std::wstring VariantToString(const Variant& v) {
  return std::visit(
      [](const auto& x) -> std::wstring {
        using X = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<X, std::monostate>) {
          return {};
        } else if constexpr (std::is_same_v<X, bool>) {
          return x ? L"True" : L"False";
        } else if constexpr (std::is_same_v<X, std::wstring>) {
          return x;
        } else {
          return std::to_wstring(x);
        }
      },
      v);
}

std::int64_t VariantToInt(const Variant& v, std::int64_t fallback) noexcept {
  if (auto p = VariantPosition(v)) return *p;
  if (auto p = std::get_if<std::int64_t>(&v)) return *p;
  if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
  if (auto p = std::get_if<double>(&v)) {
    if (*p > -9.2e18 && *p < 9.2e18) return static_cast<std::int64_t>(*p);
    return fallback;
  }
  if (auto s = VariantKey(v)) {
    if (auto n = ParseDecimal(*s)) return *n;
  }
  return fallback;
}

bool VariantToBool(const Variant& v, bool fallback) noexcept {
  if (auto p = std::get_if<bool>(&v)) return *p;
  if (auto s = VariantKey(v)) {
    const std::wstring_view t = TrimBlanks(*s);
    if (t.empty() || EqualsIgnoreCase(t, L"false") || EqualsIgnoreCase(t, L"no")) return false;
    if (EqualsIgnoreCase(t, L"true") || EqualsIgnoreCase(t, L"yes")) return true;
    if (auto n = ParseDecimal(t)) return *n != 0;
    return fallback;
  }
  if (std::holds_alternative<std::monostate>(v)) return fallback;
  return VariantToInt(v, 0) != 0;
}

}  // namespace vm::framework
