// The rule dispatcher's window-free decisions: the caption burst limit, the
// rule a caption change may switch to, what a re-check asks of a window, and
// the report to the control program. Built natively (sanitizers) and under Wine.
#include <gtest/gtest.h>

#include "common/value_list.h"
#include "hooklib/app/dispatcher_rules.h"

namespace vm::hooklib {
namespace {

TEST(DispatcherRules, CaptionReadsInABurstStopAfterTenMore) {
  CaptionData d;
  d.last_check_time = 1000;  // the first read
  int reads = 0;
  // Notices 1 ms apart: ten more reads, then none while the burst goes on.
  for (std::uint32_t t = 1001; t <= 1030; ++t) reads += MayReadCaption(d, t);
  EXPECT_EQ(reads, 10);
  EXPECT_EQ(d.last_check_time, 1010u);  // refused notices do not extend the burst
  EXPECT_FALSE(MayReadCaption(d, 1059));
  // 50 ms after the last read a new burst starts.
  EXPECT_TRUE(MayReadCaption(d, 1060));
  EXPECT_EQ(d.change_try_count, 0u);
}

TEST(DispatcherRules, CaptionBurstsSurviveTheTickCountWrapping) {
  CaptionData d;
  d.last_check_time = 0xFFFFFFF0u;
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(MayReadCaption(d, 0xFFFFFFF5u + i));
  EXPECT_FALSE(MayReadCaption(d, 3));  // a few ms later, across the wrap
  EXPECT_TRUE(MayReadCaption(d, 200));
}

TEST(DispatcherRules, ACaptionRematchesAtMostThreeTimes) {
  CaptionData d{L"first", 0, 0, 0};
  EXPECT_FALSE(TakeNewCaption(d, L"first", false));  // unchanged
  EXPECT_FALSE(TakeNewCaption(d, L"", false));       // empty changes nothing
  EXPECT_TRUE(TakeNewCaption(d, L"two", false));
  EXPECT_TRUE(TakeNewCaption(d, L"three", false));
  EXPECT_TRUE(TakeNewCaption(d, L"four", false));
  EXPECT_FALSE(TakeNewCaption(d, L"five", false));
  EXPECT_EQ(d.current_caption, L"five");
  EXPECT_TRUE(TakeNewCaption(d, L"six", true));  // shellexperiencehost
  CaptionData stopped{L"a", kNoMoreCaptionChecks, 0, 0};
  EXPECT_FALSE(TakeNewCaption(stopped, L"b", false));
}

TEST(DispatcherRules, CaptionRuleSwitches) {
  const struct {
    const char* next;
    const char* current;
    bool stop;
    bool no_more_checks;
  } cases[] = {
      {"A", "A", true, false},                   // unchanged
      {"B", "A", false, true},                   // specific to specific: last switch
      {"DefaultWindowRule", "A", true, false},   // never back to the default
      {"", "A", true, false},                    // nothing to switch to
      {"A", "DefaultWindowRule", false, false},  // default to specific
      {"A", "", false, false},                   // a first rule
      {"DefaultWindowRule", "", false, false},
      {"", "", true, false},
  };
  for (const auto& c : cases) {
    const CaptionRuleDecision d = DecideCaptionRule(c.next, c.current);
    EXPECT_EQ(d.stop, c.stop) << c.next << " <- " << c.current;
    EXPECT_EQ(d.no_more_checks, c.no_more_checks) << c.next << " <- " << c.current;
  }
}

TEST(DispatcherRules, RecheckAsksForWhatChanged) {
  RuleInfo none;
  RuleInfo specific;
  specific.rule_type = RuleType::Specific;
  specific.params_crc = 0x1234;
  specific.enabled = true;
  RuleInfo exclusion;
  exclusion.rule_type = RuleType::Exclusion;
  exclusion.enabled = true;
  const struct {
    bool had;
    std::uint32_t stored;
    RuleInfo now;
    bool force;
    RecheckAction action;
  } cases[] = {
      {true, 0x1234, specific, false, RecheckAction::Nothing},  // unchanged checksum
      {true, 0x1234, specific, true, RecheckAction::Rematch},   // forced
      {true, 0x9999, specific, false, RecheckAction::Rematch},  // the rule changed
      {true, 0x1234, none, false, RecheckAction::Withdraw},     // the rule went away
      {false, 0, specific, false, RecheckAction::Check},        // a new rule
      {false, 0, exclusion, false, RecheckAction::Check},       // exclusions count as rules
      {false, 0, none, false, RecheckAction::Nothing},
      {false, 0, none, true, RecheckAction::Nothing},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideRecheck(c.had, c.stored, c.now, c.force), c.action);
  }
}

TEST(DispatcherRules, TheReportCarriesSixValuesInOrder) {
  WindowInfo info{0x1234567890ABCDEFull, "C:\\app\\x.exe", "Cls", "Caption"};
  RuleInfo rule;
  rule.name = "TestA";
  rule.rule_type = RuleType::Specific;
  const std::string body = PackRuleReport(info, rule);
  ValueListReader r(body);
  EXPECT_EQ(r.ReadUInt(), 0x90ABCDEFu);
  EXPECT_EQ(r.ReadBytes(), "C:\\app\\x.exe");
  EXPECT_EQ(r.ReadBytes(), "Cls");
  EXPECT_EQ(r.ReadBytes(), "Caption");
  EXPECT_EQ(r.ReadBytes(), "TestA");
  EXPECT_EQ(r.ReadUInt(), 2u);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_FALSE(r.failed());
}

}  // namespace
}  // namespace vm::hooklib
