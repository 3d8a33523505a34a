#pragma once
// What the rule tests' window fixture creates (window_fixture.cpp). Every
// title carries the tag the test passes, so parallel runs never meet.
//   rules_window_fixture.exe <tag> <pid>   (also built as conhost.exe)
// <pid> goes into the first extra pointer of its console-class window, the
// way conhost keeps the process id of its console client.
#include <string>

namespace vm::test::rules_fixture {

inline constexpr wchar_t kPlainClass[] = L"VmRulesFixturePlain";
inline constexpr wchar_t kConsoleClass[] = L"ConsoleWindowClass";
inline constexpr wchar_t kHungClass[] = L"VmRulesFixtureHung";
// HwndWrapper[name;;GUID]: 36 GUID characters before the final "]".
inline constexpr wchar_t kWpfParentClass[] =
    L"HwndWrapper[Fixture.exe;;6f1c2a9e-4b7d-4e0a-9c3b-2d5e8f7a1b60]";
inline constexpr wchar_t kWpfChildClass[] =
    L"HwndWrapper[FixtureChild;;0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d]";
inline constexpr char kWpfExpected[] = "HwndWrapper[Fixture.exe;;] - HwndWrapper[FixtureChild;;]";

// Posted to the hung window: its thread tells the test through the event
// "Local\VmRulesFixtureHung_" + tag, then sleeps this long without pumping.
inline constexpr unsigned kHangMessage = 0x8000 + 0x31;  // WM_APP + 0x31
inline constexpr unsigned kHangMs = 4000;

inline std::wstring PlainTitle(const std::wstring& tag) { return L"Fixture caption " + tag; }
inline std::wstring ConsoleTitle(const std::wstring& tag) { return L"Console " + tag; }
inline std::wstring HungTitle(const std::wstring& tag) { return L"Hung " + tag; }
inline std::wstring WpfTitle(const std::wstring& tag) { return L"Wpf " + tag; }
inline std::wstring HungEventName(const std::wstring& tag) {
  return L"Local\\VmRulesFixtureHung_" + tag;
}

}  // namespace vm::test::rules_fixture
