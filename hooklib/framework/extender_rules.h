#pragma once
// The decisions of the window extender that need no window: how a window
// class is named for rules and logs, which windows must not be subclassed,
// how a part's rule text splits, and the bookkeeping of detach requests and
// alive checks. Plain C++ without windows.h, so it is unit tested natively.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vm::framework {

// A WPF class name ("HwndWrapper[...]" longer than 50 characters) loses the
// 36 characters before its final "]"; other names stay as they are.
std::wstring TrimWrapperClassName(std::wstring_view name);
bool IsWrapperClassName(std::wstring_view name);

// What decides whether a window is extended without subclassing.
struct SubclassFacts {
  std::wstring class_name;             // normalised (see TrimWrapperClassName)
  std::wstring host_path_lower;        // the host's executable path, lower case
  bool smart_maximize_loaded = false;  // "nvsmartmax64.dll" is in the process
};
// True when the window must be left without subclassing (its messages then
// reach the extender through the hooks only).
bool StaysNoninvasive(const SubclassFacts& facts);

// "CLASS{params}" of an action or trigger: class, parameter text and the
// part's name (the "name" entry of the text, compared case-insensitively;
// empty when absent).
struct PartText {
  std::wstring class_name;
  std::wstring params;
  std::wstring name;
};
PartText SplitPartText(std::wstring_view value);

// A detach request is honoured at once unless the window procedure is
// nested; a nested one is re-posted at most this often.
inline constexpr int kMaxDetachRetries = 50;
constexpr bool HonourDetachNow(int nesting, int tries) noexcept {
  return nesting < 2 || tries >= kMaxDetachRetries;
}

// Alive checks of the subclassing, every 100 ms: ten answered checks end
// them; an unanswered one rehooks, at most four times.
inline constexpr int kAliveChecksBeforeRest = 10;
inline constexpr int kMaxRehooks = 4;
enum class AliveStep { KeepChecking, StopChecking, Rehook, GiveUp };
struct AliveState {
  int answered = 0;  // FCheckExtenderTryCount
  int rehooks = 0;   // FRehookCount
};
// Advances the state for one check; `intact` is true when the window
// answered the alive check with 42.
AliveStep NextAliveStep(AliveState& state, bool intact) noexcept;

// The timer identifiers start at 100 in hosts that use low timer ids on
// every window of theirs.
int TimerIdSeed(std::wstring_view host_path_lower);

}  // namespace vm::framework
