#pragma once
// The value type of item parameters and collection indexes. Items only ever
// produce and accept integers, booleans and strings; the other alternatives
// exist so that an index of an unsupported kind can be represented and then
// address nothing. Plain C++ (no windows.h): the collections are fuzzed natively.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace vm::framework {

using Variant = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::uint8_t,
                             std::uint32_t, std::int64_t, double, std::wstring>;

// A position when the variant holds one of the integer kinds that address
// positions (16- or 32-bit signed, 8- or 32-bit unsigned); nothing otherwise.
std::optional<std::int64_t> VariantPosition(const Variant& v) noexcept;

// The key when the variant holds a string; null otherwise.
const std::wstring* VariantKey(const Variant& v) noexcept;

// Conversions used by SetParam implementations. Strings convert leniently:
// surrounding blanks are ignored, and anything that is not a decimal integer
// (optionally signed) gives the fallback.
std::wstring VariantToString(const Variant& v);
std::int64_t VariantToInt(const Variant& v, std::int64_t fallback = 0) noexcept;
// "1", "-1", "true", "yes" and non-zero numbers are true; "0", "false", "no",
// empty and zero are false; anything else gives the fallback.
bool VariantToBool(const Variant& v, bool fallback = false) noexcept;

}  // namespace vm::framework
