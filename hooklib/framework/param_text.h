#pragma once
// Parameter texts: the one-line configuration of every item, written by the
// control program into shared memory and therefore untrusted input in every
// hooked process.
//
//   name=Foliant\special_icons={a=1;b=2}\path=43003A00
//
// Entries are separated by "\" (";" in some nested texts); a "{" before the
// next separator protects everything up to its matching "}". Values of
// extender parameters are hexadecimal text of their bytes.
//
// Everything here is plain C++ without windows.h, templated over the
// character type (char for ANSI texts, wchar_t for UTF-16), so that it is
// unit tested and fuzzed natively as well as under Windows. Whatever the
// input, the work is linear in its length, memory is bounded by it, and
// nothing recurses.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vm::framework {

// Longer texts are refused as a whole. Real rule lines are a few hundred
// characters; the limit only keeps a hostile block from costing more than a
// few megabytes of bookkeeping.
inline constexpr std::size_t kMaxParamTextLength = std::size_t{1} << 20;

template <class Ch>
struct BasicParamEntry {
  std::basic_string_view<Ch> name;
  std::basic_string_view<Ch> value;
};
using ParamEntry = BasicParamEntry<wchar_t>;

namespace detail {

template <class Ch>
constexpr bool IsBlank(Ch c) noexcept {
  return static_cast<std::make_unsigned_t<Ch>>(c) <= 0x20;
}

template <class Ch>
constexpr std::basic_string_view<Ch> TrimLeft(std::basic_string_view<Ch> s) noexcept {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

template <class Ch>
constexpr std::basic_string_view<Ch> TrimRight(std::basic_string_view<Ch> s) noexcept {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Matching "}" of every "{" of a text, found once with an explicit stack:
// counting nested braces from one "{" until the count returns to zero gives
// the same "}" as stack matching, without rescanning the rest of the text
// for every unmatched "{" of a hostile input.
template <class Ch>
class BraceMatcher {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  explicit BraceMatcher(std::basic_string_view<Ch> text) : text_(text) {}

  // Position of the "}" matching the "{" at open, or kNone.
  std::uint32_t Match(std::size_t open) {
    if (!built_) Build();
    return match_[open];
  }

 private:
  void Build() {
    built_ = true;
    match_.assign(text_.size(), kNone);
    std::vector<std::uint32_t> open;
    for (std::size_t i = 0; i < text_.size(); ++i) {
      if (text_[i] == Ch('{')) {
        open.push_back(static_cast<std::uint32_t>(i));
      } else if (text_[i] == Ch('}') && !open.empty()) {
        match_[open.back()] = static_cast<std::uint32_t>(i);
        open.pop_back();
      }
    }
  }

  std::basic_string_view<Ch> text_;
  bool built_ = false;
  std::vector<std::uint32_t> match_;
};

}  // namespace detail

// Calls fn(BasicParamEntry<Ch>) for every entry that has "=" and a non-empty
// name, in text order. The name is right-trimmed, the value left-trimmed and
// stripped of one outer pair of braces when it both starts with "{" and ends
// with "}". Returns false, calling nothing, for a text longer than
// kMaxParamTextLength.
template <class Ch, class Fn>
bool ForEachParam(std::basic_string_view<Ch> text, Fn&& fn, Ch separator = Ch('\\')) {
  if (text.size() > kMaxParamTextLength) return false;
  text = detail::TrimRight(detail::TrimLeft(text));
  detail::BraceMatcher<Ch> braces(text);
  const std::size_t n = text.size();
  // The next separator and the next "{" at or after the search position,
  // each found again only once the search has passed it: every character is
  // looked at a bounded number of times.
  std::size_t next_sep = 0;
  std::size_t next_brace = 0;
  bool have_sep = false;
  bool have_brace = false;
  auto find_from = [&](Ch what, std::size_t from) {
    const std::size_t at = text.find(what, from);
    return at == std::basic_string_view<Ch>::npos ? n : at;
  };
  std::size_t start = 0;
  while (start < n) {
    // Find where this entry ends: the next separator not protected by braces.
    std::size_t search = start;
    std::size_t end = n;
    for (;;) {
      if (!have_sep || next_sep < search) {
        next_sep = find_from(separator, search);
        have_sep = true;
      }
      if (!have_brace || next_brace < search) {
        next_brace = find_from(Ch('{'), search);
        have_brace = true;
      }
      const std::size_t sep = next_sep;
      const std::size_t brace = next_brace;
      if (brace >= sep) {
        end = sep;
        break;
      }
      const std::uint32_t close = braces.Match(brace);
      if (close == detail::BraceMatcher<Ch>::kNone) {
        end = sep;  // no matching brace: the separator counts as if there were none
        break;
      }
      search = close + 1;
    }

    const std::basic_string_view<Ch> entry = text.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    const std::size_t eq = entry.find(Ch('='));
    if (eq == std::basic_string_view<Ch>::npos) continue;
    const auto name = detail::TrimRight(entry.substr(0, eq));
    auto value = detail::TrimLeft(entry.substr(eq + 1));
    if (value.size() >= 2 && value.front() == Ch('{') && value.back() == Ch('}')) {
      value = value.substr(1, value.size() - 2);
    }
    if (name.empty()) continue;
    fn(BasicParamEntry<Ch>{name, value});
  }
  return true;
}

template <class Ch>
std::vector<BasicParamEntry<Ch>> SplitParams(std::basic_string_view<Ch> text,
                                             Ch separator = Ch('\\')) {
  std::vector<BasicParamEntry<Ch>> out;
  ForEachParam(
      text, [&](const BasicParamEntry<Ch>& e) { out.push_back(e); }, separator);
  return out;
}

// Value of the first entry with that name (exact comparison), if any.
template <class Ch>
std::optional<std::basic_string_view<Ch>> FindParam(std::basic_string_view<Ch> text,
                                                    std::basic_string_view<Ch> name,
                                                    Ch separator = Ch('\\')) {
  std::optional<std::basic_string_view<Ch>> found;
  ForEachParam(
      text,
      [&](const BasicParamEntry<Ch>& e) {
        if (!found && e.name == name) found = e.value;
      },
      separator);
  return found;
}

// "CLASS{params}": the class name is the text before the first "{" (all of
// it when there is none); the parameters are what follows that "{" up to,
// not including, the text's last character, whatever that character is.
template <class Ch>
struct BasicClassText {
  std::basic_string_view<Ch> class_name;
  std::basic_string_view<Ch> params;
};

template <class Ch>
BasicClassText<Ch> SplitClassText(std::basic_string_view<Ch> text) noexcept {
  const std::size_t brace = text.find(Ch('{'));
  if (brace == std::basic_string_view<Ch>::npos) return {text, {}};
  const std::size_t first = brace + 1;
  const std::size_t last = text.size() - 1;  // excluded; brace < size, so no underflow
  return {text.substr(0, brace),
          first <= last ? text.substr(first, last - first) : std::basic_string_view<Ch>{}};
}

// --- Hexadecimal values: two upper-case digits per byte, high nibble first.

namespace detail {

template <class Ch>
constexpr int HexDigit(Ch c) noexcept {
  const auto u = static_cast<std::make_unsigned_t<Ch>>(c);
  if (u >= '0' && u <= '9') return static_cast<int>(u - '0');
  if (u >= 'A' && u <= 'F') return static_cast<int>(u - 'A' + 10);
  if (u >= 'a' && u <= 'f') return static_cast<int>(u - 'a' + 10);
  return -1;
}

// Calls sink(byte) for the valid leading pairs; returns how many pairs were
// valid. Decoding accepts either case; a final odd digit is ignored.
template <class Ch, class Sink>
std::size_t DecodeValidPairs(std::basic_string_view<Ch> hex, Sink&& sink) {
  const std::size_t pairs = hex.size() / 2;
  for (std::size_t i = 0; i < pairs; ++i) {
    const int hi = HexDigit(hex[2 * i]);
    const int lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return i;
    sink(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return pairs;
}

}  // namespace detail

template <class Ch = char>
std::basic_string<Ch> BytesToHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::basic_string<Ch> out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(static_cast<Ch>(kDigits[b >> 4]));
    out.push_back(static_cast<Ch>(kDigits[b & 15]));
  }
  return out;
}

// One byte per two digits; from the first pair that is not two hex digits
// on, every byte is 0 (the length still follows the text).
template <class Ch>
std::vector<std::uint8_t> HexToBytes(std::basic_string_view<Ch> hex) {
  std::vector<std::uint8_t> out;
  out.reserve(hex.size() / 2);
  detail::DecodeValidPairs(hex, [&](std::uint8_t b) { out.push_back(b); });
  out.resize(hex.size() / 2, 0);
  return out;
}

// ANSI text: the bytes up to the first zero byte (a bad pair reads as zero).
template <class Ch>
std::string HexToAnsi(std::basic_string_view<Ch> hex) {
  std::string out;
  bool ended = false;
  detail::DecodeValidPairs(hex, [&](std::uint8_t b) {
    if (b == 0) ended = true;
    if (!ended) out.push_back(static_cast<char>(b));
  });
  return out;
}

template <class Ch = char>
std::basic_string<Ch> AnsiToHex(std::string_view text) {
  return BytesToHex<Ch>(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// UTF-16 text from its little-endian bytes: one code unit per four digits
// (left-over digits ignored), ending at the first zero unit; a bad pair reads
// as a zero byte, so the text ends there.
template <class Out = wchar_t, class Ch>
std::basic_string<Out> HexToUtf16(std::basic_string_view<Ch> hex) {
  static_assert(sizeof(Out) >= 2);
  std::basic_string<Out> out;
  const std::size_t units = hex.size() / 4;
  for (std::size_t i = 0; i < units; ++i) {
    const int d[4] = {detail::HexDigit(hex[4 * i]), detail::HexDigit(hex[4 * i + 1]),
                      detail::HexDigit(hex[4 * i + 2]), detail::HexDigit(hex[4 * i + 3])};
    if (d[0] < 0 || d[1] < 0) break;  // low byte bad: this unit is 0
    const unsigned low = static_cast<unsigned>(d[0] * 16 + d[1]);
    const bool high_ok = d[2] >= 0 && d[3] >= 0;
    const unsigned unit = low | (high_ok ? static_cast<unsigned>(d[2] * 16 + d[3]) << 8 : 0u);
    if (unit == 0) break;
    out.push_back(static_cast<Out>(unit));
    if (!high_ok) break;  // every later byte is 0
  }
  return out;
}

// Hex of the UTF-16LE bytes of a text, four digits per code unit, low byte
// first. Only the low 16 bits of each unit are written (on Windows that is
// all of wchar_t).
template <class Ch = wchar_t, class In>
std::basic_string<Ch> Utf16ToHex(std::basic_string_view<In> text) {
  static_assert(sizeof(In) >= 2);
  std::basic_string<Ch> out;
  out.reserve(text.size() * 4);
  for (In c : text) {
    const auto u = static_cast<std::uint32_t>(c) & 0xFFFFu;
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(u & 0xFF),
                                   static_cast<std::uint8_t>(u >> 8)};
    out += BytesToHex<Ch>(bytes);
  }
  return out;
}

}  // namespace vm::framework
