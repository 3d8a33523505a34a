// The window extender's window-free decisions: class names, the windows left
// without subclassing, part texts, hex parameters, detach retries and the
// alive-check bookkeeping. Built natively (sanitizers) and under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hooklib/framework/extender_rules.h"
#include "hooklib/framework/param_text.h"

namespace vm::framework {
namespace {

TEST(ExtenderRules, WrapperClassNamesLoseTheirGuidOthersStay) {
  const std::wstring guid(36, L'x');
  const std::wstring wpf = L"HwndWrapper[Jing.exe;;" + guid + L"]";
  ASSERT_GT(wpf.size(), 50u);
  EXPECT_EQ(TrimWrapperClassName(wpf), L"HwndWrapper[Jing.exe;;]");
  // Fifty characters or fewer, no final "]", other prefix (case-sensitive): unchanged.
  const struct {
    std::wstring name;
  } kept[] = {{L"HwndWrapper[a;;]"},
              {L"HwndWrapper[Jing.exe;;" + guid},
              {L"hwndwrapper[Jing.exe;;" + guid + L"]"},
              {L"CabinetWClass"},
              {L""}};
  for (const auto& k : kept) EXPECT_EQ(TrimWrapperClassName(k.name), k.name);
}

TEST(ExtenderRules, NoninvasiveWindowsByClassHostAndModule) {
  const struct {
    SubclassFacts facts;
    bool noninvasive;
  } cases[] = {
      {{L"Flash10", L"c:\\apps\\player.exe", false}, true},
      {{L"Flash11.5", L"c:\\apps\\player.exe", false}, true},
      {{L"flash10", L"c:\\apps\\player.exe", false}, false},  // case-sensitive
      {{L"Flash", L"c:\\apps\\player.exe", false}, false},    // whole names only
      {{L"Premiere Pro", L"c:\\x.exe", false}, true},
      {{L"HwndWrapper[Jing.exe;;] - WindowsForms10.Window", L"c:\\x.exe", false}, true},
      {{L"Notepad", L"c:\\tools\\winbox.exe", false}, true},
      {{L"Dialog", L"c:\\program files\\ptc\\creo 9\\x.exe", false}, true},
      {{L"Dialog", L"c:\\program files\\mathcad\\x.exe", false}, true},
      {{L"Window", L"c:\\program files\\ptc\\x.exe", false}, false},
      {{L"Dialog", L"c:\\program files\\other\\x.exe", false}, false},
      {{L"Notepad", L"c:\\windows\\notepad.exe", true}, true},
      {{L"Notepad", L"c:\\windows\\notepad.exe", false}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StaysNoninvasive(c.facts), c.noninvasive)
        << std::string(c.facts.class_name.begin(), c.facts.class_name.end());
  }
}

TEST(ExtenderRules, PartTextsSplitIntoClassParametersAndName) {
  PartText p = SplitPartText(L"TESTACTION{name=Probe\\tag=A}");
  EXPECT_EQ(p.class_name, L"TESTACTION");
  EXPECT_EQ(p.params, L"name=Probe\\tag=A");
  EXPECT_EQ(p.name, L"Probe");
  p = SplitPartText(L"TESTACTION{tag=A\\NAME=Upper\\name=Second}");
  EXPECT_EQ(p.name, L"Upper");  // case-insensitive, the first wins
  p = SplitPartText(L"TESTACTION{tag=A}");
  EXPECT_EQ(p.name, L"");
  p = SplitPartText(L"TESTACTION");
  EXPECT_EQ(p.class_name, L"TESTACTION");
  EXPECT_EQ(p.params, L"");
  p = SplitPartText(L"{");
  EXPECT_EQ(p.class_name, L"");
  EXPECT_EQ(p.params, L"");
}

TEST(ExtenderRules, HexParametersDecodePairwiseAndZeroFromTheFirstBadPair) {
  const struct {
    std::wstring hex;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {L"4142", {'A', 'B'}},
      {L"41424", {'A', 'B'}},    // a final odd digit is ignored
      {L"41ZZ42", {'A', 0, 0}},  // from the first bad pair on, zero
      {L"6162", {'a', 'b'}},
      {L"6a6B", {'j', 'k'}},  // either case
      {L"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(HexToBytes<wchar_t>(c.hex), c.bytes);
}

TEST(ExtenderRules, DetachWaitsWhileNestedAtMostFiftyTimes) {
  EXPECT_TRUE(HonourDetachNow(0, 0));
  EXPECT_TRUE(HonourDetachNow(1, 0));
  EXPECT_FALSE(HonourDetachNow(2, 0));
  EXPECT_FALSE(HonourDetachNow(2, 49));
  EXPECT_TRUE(HonourDetachNow(2, 50));
  EXPECT_TRUE(HonourDetachNow(7, 50));
}

TEST(ExtenderRules, AliveChecksRestAfterTenAndRehookAtMostFourTimes) {
  AliveState s;
  for (int i = 0; i < 9; ++i) EXPECT_EQ(NextAliveStep(s, true), AliveStep::KeepChecking);
  EXPECT_EQ(NextAliveStep(s, true), AliveStep::StopChecking);
  s = {};
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(NextAliveStep(s, true), AliveStep::KeepChecking);
    EXPECT_EQ(NextAliveStep(s, false), AliveStep::Rehook);
    EXPECT_EQ(s.rehooks, i);
    EXPECT_EQ(s.answered, 0);  // counting starts again after a rehook
  }
  EXPECT_EQ(NextAliveStep(s, false), AliveStep::GiveUp);
  EXPECT_EQ(s.rehooks, 4);
}

TEST(ExtenderRules, TimerIdsStartAtHundredInHostsThatNeedIt) {
  EXPECT_EQ(TimerIdSeed(L"c:\\program files\\office\\winproj.exe"), 100);
  EXPECT_EQ(TimerIdSeed(L"c:\\program files\\maxqda2022\\maxqda.exe"), 100);
  EXPECT_EQ(TimerIdSeed(L"c:\\windows\\explorer.exe"), 0);
  EXPECT_EQ(TimerIdSeed(L"c:\\tools\\notwinproj.exe"), 0);
}

}  // namespace
}  // namespace vm::framework
