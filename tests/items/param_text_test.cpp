// The parameter-text format and its hexadecimal values. Plain C++: this file
// is built for Windows (run under Wine) and natively (tests/native).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hooklib/framework/param_text.h"

namespace vm::framework {
namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

Pairs Parse(std::wstring_view text, wchar_t sep = L'\\') {
  Pairs out;
  ForEachParam<wchar_t>(
      text, [&](const ParamEntry& e) { out.emplace_back(e.name, e.value); }, sep);
  return out;
}

struct SplitCase {
  const char* what;
  std::wstring text;
  Pairs expected;
};

TEST(ParamText, SplitsEntriesAsTheFormatSays) {
  const std::vector<SplitCase> cases = {
      {"plain pairs", L"a=1\\b=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"empty text", L"", {}},
      {"blanks only", L"  \t ", {}},
      {"two separators in a row", L"a=1\\\\b=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"leading and trailing separators", L"\\a=1\\", {{L"a", L"1"}}},
      {"braces protect separators", L"x={a\\b}\\y=2", {{L"x", L"a\\b"}, {L"y", L"2"}}},
      {"unmatched brace: first separator", L"x={a\\b\\y=2", {{L"x", L"{a"}, {L"y", L"2"}}},
      {"braces inside a value stay when they do not enclose it",
       L"action=FOLIANTACTION{name=Foliant\\path=43003A00}\\window_rule_name=41",
       {{L"action", L"FOLIANTACTION{name=Foliant\\path=43003A00}"}, {L"window_rule_name", L"41"}}},
      {"nested braces", L"a={b={c\\d}\\e=1}\\f=2", {{L"a", L"b={c\\d}\\e=1"}, {L"f", L"2"}}},
      {"two groups in one entry", L"a={x\\y}{z\\w}\\b=1", {{L"a", L"x\\y}{z\\w"}, {L"b", L"1"}}},
      {"semicolon texts",
       L"name=Foliant\\special_icons={a=1;b=2}",
       {{L"name", L"Foliant"}, {L"special_icons", L"a=1;b=2"}}},
      {"name right-trimmed, value left-trimmed, text trimmed",
       L"  name = Foo \\x=1  ",
       {{L"name", L"Foo "}, {L"x", L"1"}}},
      {"entry without = skipped", L"a=1\\junk\\b=2", {{L"a", L"1"}, {L"b", L"2"}}},
      {"empty name skipped", L"=1\\ =2\\b=3", {{L"b", L"3"}}},
      {"missing value is empty", L"a=\\b=", {{L"a", L""}, {L"b", L""}}},
      {"value split at the first =", L"a=b=c", {{L"a", L"b=c"}}},
      {"duplicates kept in text order", L"a=1\\a=2", {{L"a", L"1"}, {L"a", L"2"}}},
      {"empty braces", L"a={}", {{L"a", L""}}},
      {"lone closing brace", L"a=}\\b=1", {{L"a", L"}"}, {L"b", L"1"}}},
      {"brace in the name protects too", L"{a\\b}=1\\c=2", {{L"{a\\b}", L"1"}, {L"c", L"2"}}},
      {"embedded zero is an ordinary character",
       std::wstring(L"a=1\0x\\b=2", 9),
       {{L"a", std::wstring(L"1\0x", 3)}, {L"b", L"2"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.text), c.expected) << c.what;
  }
  EXPECT_EQ(Parse(L"a=1;b={x;y};c=3", L';'), (Pairs{{L"a", L"1"}, {L"b", L"x;y"}, {L"c", L"3"}}));
}

TEST(ParamText, HostileTextsEndWithinBounds) {
  // Nesting far deeper than any stack would take if it were recursive.
  std::wstring deep = L"a=";
  deep.append(200000, L'{');
  deep += L"x\\y";
  deep.append(200000, L'}');
  deep += L"\\b=1";
  const auto pairs = Parse(deep);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[1], (std::pair<std::wstring, std::wstring>{L"b", L"1"}));
  EXPECT_EQ(pairs[0].second.size(), deep.size() - 2 - 4 - 2);  // "a=", "\b=1", one brace pair

  // Unbalanced everywhere: every entry holds an unmatched "{" (linear time,
  // not a rescan of the rest of the text per entry).
  std::wstring open;
  for (int i = 0; i < 100000; ++i) open += L"{a=1\\";
  const auto opened = Parse(open);
  ASSERT_EQ(opened.size(), 100000u);
  EXPECT_EQ(opened.back().first, L"{a");
  std::wstring open2;
  for (int i = 0; i < 100000; ++i) open2 += L"a={1\\";
  EXPECT_EQ(Parse(open2).size(), 100000u);

  // Over the limit: refused as a whole.
  std::wstring huge(kMaxParamTextLength + 1, L'a');
  huge[1] = L'=';
  int calls = 0;
  EXPECT_FALSE(ForEachParam<wchar_t>(huge, [&](const ParamEntry&) { ++calls; }));
  EXPECT_EQ(calls, 0);
}

TEST(ParamText, FindParamAndClassText) {
  EXPECT_EQ(FindParam<wchar_t>(L"a=1\\name=X\\name=Y", L"name"), std::wstring_view(L"X"));
  EXPECT_FALSE(FindParam<wchar_t>(L"a=1", L"NAME").has_value());

  struct Case {
    std::wstring text, cls, params;
  };
  const std::vector<Case> cases = {
      {L"FOLIANTACTION", L"FOLIANTACTION", L""},
      {L"OPERATION{name=A}", L"OPERATION", L"name=A"},
      {L"X{a={b}\\c=1}", L"X", L"a={b}\\c=1"},
      {L"X{abc", L"X", L"ab"},  // the last character goes, whatever it is
      {L"X{", L"X", L""},
      {L"{a=1}", L"", L"a=1"},
      {L"", L"", L""},
  };
  for (const auto& c : cases) {
    const auto split = SplitClassText<wchar_t>(c.text);
    EXPECT_EQ(split.class_name, c.cls) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(split.params, c.params) << std::string(c.text.begin(), c.text.end());
  }
}

TEST(ParamText, HexValues) {
  // ANSI round trips, including every byte value but zero.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(HexToAnsi<char>(AnsiToHex(all)), all);
  EXPECT_EQ(AnsiToHex<wchar_t>("Foliant"), L"466F6C69616E74");
  EXPECT_EQ(AnsiToHex(std::string_view("\x01\xAB\xFF", 3)), "01ABFF");

  // UTF-16 round trips, four digits per unit, low byte first.
  const std::wstring path = L"C:\\Users\\\x00E9\x0416\xD83D\xDE00";
  const std::wstring hex = Utf16ToHex<wchar_t, wchar_t>(path);
  EXPECT_EQ(hex.substr(0, 8), L"43003A00");
  EXPECT_EQ(hex.size(), path.size() * 4);
  EXPECT_EQ(HexToUtf16<wchar_t>(std::wstring_view(hex)), path);
  EXPECT_EQ(HexToUtf16<wchar_t>(std::wstring_view(L"43003a00")), L"C:");  // either case

  struct Case {
    const char* what;
    std::string hex;
    std::vector<std::uint8_t> bytes;
    std::string ansi;
  };
  const std::vector<Case> cases = {
      {"empty", "", {}, ""},
      {"odd length: last digit ignored", "414", {0x41}, "A"},
      {"non-hex pair: zero from there on", "41G14243", {0x41, 0, 0, 0}, "A"},
      {"non-hex second digit", "4142x3", {0x41, 0x42, 0}, "AB"},
      {"embedded zero byte ends the text", "41004243", {0x41, 0, 0x42, 0x43}, "A"},
      {"blank is not a digit", " 41", {0}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexToBytes<char>(c.hex), c.bytes) << c.what;
    EXPECT_EQ(HexToAnsi<char>(c.hex), c.ansi) << c.what;
  }

  struct WideCase {
    const char* what;
    std::wstring hex;
    std::wstring text;
  };
  const std::vector<WideCase> wide = {
      {"left-over digits ignored", L"4100420", L"A"},
      {"zero unit ends the text", L"410000004200", L"A"},
      {"bad high byte keeps the low byte, then ends", L"4100420G4300", L"AB"},
      {"bad low byte ends before the unit", L"4100G2004300", L"A"},
      {"embedded zero character in the hex text",
       std::wstring(L"4100\0"
                    L"0420043",
                    12),
       L"A"},
  };
  for (const auto& c : wide) {
    EXPECT_EQ(HexToUtf16<wchar_t>(std::wstring_view(c.hex)), c.text) << c.what;
  }
}

}  // namespace
}  // namespace vm::framework
