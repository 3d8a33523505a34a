// libFuzzer target: parameter texts and their hexadecimal values, as ANSI
// bytes and as UTF-16 units, with the invariants every caller relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hooklib/framework/param_text.h"

namespace {

using namespace vm::framework;

#define CHECK(cond)            \
  do {                         \
    if (!(cond)) std::abort(); \
  } while (0)

template <class Ch>
bool Inside(std::basic_string_view<Ch> part, std::basic_string_view<Ch> whole) {
  if (part.empty()) return true;
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

template <class Ch>
void CheckHex(std::basic_string_view<Ch> value) {
  const auto bytes = HexToBytes(value);
  CHECK(bytes.size() == value.size() / 2);
  const std::string ansi = HexToAnsi(value);
  CHECK(ansi.size() <= bytes.size());
  CHECK(ansi.find('\0') == std::string::npos);
  CHECK(std::string_view(ansi) ==
        std::string_view(reinterpret_cast<const char*>(bytes.data()), ansi.size()));
  // Encoding what was decoded gives it back.
  CHECK(HexToAnsi<char>(AnsiToHex(ansi)) == ansi);
  const std::wstring wide = HexToUtf16<wchar_t>(value);
  CHECK(wide.size() <= value.size() / 4);
  CHECK(wide.find(L'\0') == std::wstring::npos);
  CHECK(HexToUtf16<wchar_t>(std::wstring_view(Utf16ToHex<wchar_t, wchar_t>(wide))) == wide);
}

// Parses a text and, breadth first with a fixed budget, the nested texts of
// its values, the way items hand nested texts on to their parts.
template <class Ch>
void ParseNested(std::basic_string_view<Ch> text, Ch separator) {
  std::vector<std::basic_string_view<Ch>> work{text};
  size_t budget = 64;
  while (!work.empty() && budget-- > 0) {
    const auto current = work.back();
    work.pop_back();
    size_t entries = 0;
    const bool accepted = ForEachParam(
        current,
        [&](const BasicParamEntry<Ch>& e) {
          ++entries;
          CHECK(!e.name.empty());
          CHECK(Inside(e.name, current) && Inside(e.value, current));
          CHECK(e.name.find(Ch('=')) == std::basic_string_view<Ch>::npos);
          CheckHex(e.value);
          const auto cls = SplitClassText(e.value);
          CHECK(Inside(cls.class_name, e.value) && Inside(cls.params, e.value));
          if (work.size() < 16) work.push_back(cls.params.empty() ? e.value : cls.params);
        },
        separator);
    CHECK(accepted);
    CHECK(entries <= current.size() / 2 + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the separator, the rest is the text.
  const char separator = (data[0] & 1) ? ';' : '\\';
  const std::string_view ansi(reinterpret_cast<const char*>(data + 1), size - 1);
  ParseNested<char>(ansi, separator);

  std::wstring wide;
  for (size_t i = 1; i + 1 < size; i += 2) {
    wide.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  ParseNested<wchar_t>(wide, static_cast<wchar_t>(separator));
  return 0;
}
