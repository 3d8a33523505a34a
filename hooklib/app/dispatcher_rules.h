#pragma once
// The rule dispatcher's decisions that need no window: the burst limit of
// caption checks, which rule a caption change may switch to, what a re-check
// asks of the window, and the report to the control program. Plain C++
// without windows.h, so it is unit tested natively.
#include <cstdint>
#include <string>
#include <string_view>

#include "hooklib/app/rule_table.h"

namespace vm::hooklib {

// The dispatcher's caption record of one window (TWindowCaptionData).
struct CaptionData {
  std::wstring current_caption;
  int change_count = 0;
  std::uint32_t last_check_time = 0;  // tick count
  std::uint32_t change_try_count = 0;
};

inline constexpr std::uint32_t kCaptionBurstMs = 50;
inline constexpr std::uint32_t kCaptionBurstReads = 10;  // reads after the first in one burst
inline constexpr int kCaptionRematches = 4;              // change_count below this re-matches
inline constexpr int kNoMoreCaptionChecks = 0x7FFFFFFF;

// Whether a change notice without the text may read the caption now; updates
// the burst bookkeeping. False: too many reads in this burst.
bool MayReadCaption(CaptionData& data, std::uint32_t now) noexcept;

// Takes a new caption; true when the window is to be matched again. An empty
// caption changes nothing. `always` re-matches on every change
// (shellexperiencehost.exe).
bool TakeNewCaption(CaptionData& data, std::wstring_view caption, bool always);

// A caption change found rule `next` (empty: none, or an exclusion or a
// disabled rule) for a window whose extender serves rule `current` (empty:
// none).
struct CaptionRuleDecision {
  bool stop = false;            // nothing changes
  bool no_more_checks = false;  // raise change_count to kNoMoreCaptionChecks
};
inline constexpr std::string_view kDefaultRuleName = "DefaultWindowRule";
CaptionRuleDecision DecideCaptionRule(std::string_view next, std::string_view current);

// What RecheckWindow asks the window to do (service code and lParam).
enum class RecheckAction { Nothing, Withdraw, Rematch, Check };
RecheckAction DecideRecheck(bool had, std::uint32_t stored_crc, const RuleInfo& now, bool force);

// Commands 1 and 15: the window (low 32 bits), file, class, caption, rule
// name (ANSI) and rule type, as a value list.
std::string PackRuleReport(const WindowInfo& info, const RuleInfo& rule);

}  // namespace vm::hooklib
