// What the dispatcher test and its fixture process share: the fixture's
// control window and commands, the windows it makes, and the record its
// test action keeps in a named mapping.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace vm::test::dispatcher_fixture {

inline constexpr wchar_t kControlClass[] = L"vm_dispatcher_fixture_control";
// Windows under test; their own procedure answers kProbe with kOwnAnswer.
inline constexpr wchar_t kWindowClass[] = L"vm_dispatcher_test";
inline constexpr UINT kProbe = WM_APP + 40;
inline constexpr LRESULT kOwnAnswer = 4242;
// The rules' test triggers fire on these (see the Ops rule of the test).
inline constexpr UINT kFire = WM_APP + 41;
inline constexpr UINT kFireFailing = WM_APP + 42;
inline constexpr UINT kFirePolicies = WM_APP + 43;

// Sent to the control window (SendMessageTimeoutW); wParam = the window.
inline constexpr UINT kShow = WM_APP + 1;   // ShowWindow(SW_SHOWNOACTIVATE)
inline constexpr UINT kMove = WM_APP + 2;   // SetWindowPos: offered while hidden
inline constexpr UINT kState = WM_APP + 3;  // -> state bits below
inline constexpr UINT kDestroy = WM_APP + 4;
inline constexpr UINT kBenchmark = WM_APP + 5;    // -> with, without the dispatcher, lookup:
                                                  // tenths of ns, 21 bits each from the low end
inline constexpr UINT kHostile = WM_APP + 6;      // service codes with bogus values
inline constexpr UINT kNullCaption = WM_APP + 7;  // WM_SETTEXT with a null text
inline constexpr UINT kCaptionCount = WM_APP + 8;
// Subclasses the window on top of everything with a procedure that keeps
// the extender's alive check from it (at most kSwallowers times).
inline constexpr UINT kSwallow = WM_APP + 9;
inline constexpr int kSwallowers = 6;  // -> the dispatcher's change count
// WM_COPYDATA to the control window: dwData = command, the data UTF-16.
inline constexpr ULONG_PTR kCreateHidden = 1;  // text = caption; -> the window
inline constexpr ULONG_PTR kSetCaption = 2;    // 8 bytes of window, then the caption

enum StateBits : LRESULT {
  kExtended = 1,
  kPending = 2,
  kRegistered = 4,
  kSubclassed = 8,  // the window procedure is one of our stubs in call form
};

inline constexpr int kSlots = 64;
struct Slot {
  std::uint64_t wnd;
  LONG attached;
  LONG detached;
  LONG before;
  LONG after;
  LONG applied;    // operations the test operation action applied
  LONG published;  // publications its observer heard
  wchar_t rule[32];
};
struct Record {
  LONG used;
  Slot slots[kSlots];
};

inline std::wstring RecordName(DWORD pid) {
  return L"Local\\vm_dispatcher_fixture_" + std::to_wstring(pid);
}

}  // namespace vm::test::dispatcher_fixture
