#include "hooklib/app/dispatcher_rules.h"

#include "common/value_list.h"

namespace vm::hooklib {

bool MayReadCaption(CaptionData& data, std::uint32_t now) noexcept {
  // Tick counts wrap: the distance either way is what counts.
  const std::uint32_t forward = now - data.last_check_time;
  const std::uint32_t distance = forward > 0x80000000u ? 0u - forward : forward;
  if (distance >= kCaptionBurstMs) {
    data.last_check_time = now;
    data.change_try_count = 0;
    return true;
  }
  if (data.change_try_count >= kCaptionBurstReads) return false;
  ++data.change_try_count;
  data.last_check_time = now;
  return true;
}

bool TakeNewCaption(CaptionData& data, std::wstring_view caption, bool always) {
  if (caption.empty() || caption == data.current_caption) return false;
  data.current_caption.assign(caption);
  if (data.change_count < kCaptionRematches) ++data.change_count;
  return data.change_count < kCaptionRematches || always;
}

CaptionRuleDecision DecideCaptionRule(std::string_view next, std::string_view current) {
  CaptionRuleDecision d;
  if (next == current) {
    d.stop = true;
    return d;
  }
  if (!current.empty() && current != kDefaultRuleName) {
    // A caption never takes a window back from its specific rule to the
    // default one; a switch to another specific rule is the last.
    if (next == kDefaultRuleName) {
      d.stop = true;
      return d;
    }
    if (!next.empty()) d.no_more_checks = true;
  }
  if (next.empty()) d.stop = true;  // nothing to switch to
  return d;
}

RecheckAction DecideRecheck(bool had, std::uint32_t stored_crc, const RuleInfo& now, bool force) {
  if (had && now.params_crc == stored_crc && !force) return RecheckAction::Nothing;
  const bool has_rule =
      now.params_crc != 0 || (now.enabled && now.rule_type == RuleType::Exclusion);
  if (had && !has_rule) return RecheckAction::Withdraw;
  if (had && has_rule) return RecheckAction::Rematch;
  if (!had && has_rule) return RecheckAction::Check;
  return RecheckAction::Nothing;
}

std::string PackRuleReport(const WindowInfo& info, const RuleInfo& rule) {
  ValueListWriter w;
  w.AddInt64Low(info.wnd);
  w.AddBytes(info.file_name);
  w.AddBytes(info.window_class);
  w.AddBytes(info.window_caption);
  w.AddBytes(rule.name.value_or(std::string()));
  w.AddUInt(static_cast<std::uint32_t>(rule.rule_type));
  return w.Take();
}

}  // namespace vm::hooklib
