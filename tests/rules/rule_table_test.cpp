// Matching windows against rule tables built in memory: the rules of the
// match, then tables that break the format on purpose. Window-free: runs
// under Wine (PathMatchSpecA of the system) and natively with sanitizers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "common/rule_table_builder.h"
#include "hooklib/app/rule_table.h"

namespace {

using namespace vm::rules;
using vm::hooklib::ContinueCrc32;
using vm::hooklib::MatchContext;
using vm::hooklib::MatchResult;
using vm::hooklib::MatchWindowRule;
using vm::hooklib::RuleInfo;
using vm::hooklib::RuleType;
using vm::hooklib::WindowFileName;
using vm::hooklib::WindowInfo;

using Bytes = std::vector<std::uint8_t>;

WindowInfo Window(std::string file, std::string cls, std::string caption = "Untitled") {
  WindowInfo w;
  w.wnd = 0x1234;
  w.file_name = std::move(file);
  w.window_class = std::move(cls);
  w.window_caption = std::move(caption);
  return w;
}

Rule MakeRule(NodeKind kind, std::string name, std::string params, std::vector<Criterion> criteria,
              std::uint32_t seed = 0x1111) {
  Rule r;
  r.kind = kind;
  r.name = std::move(name);
  r.params = std::move(params);
  r.seed = seed;
  r.criteria = std::move(criteria);
  return r;
}

Criterion ClassIs(std::string p) { return {NodeKind::ClassCriterion, std::move(p)}; }
Criterion FileIs(std::string p) { return {NodeKind::FileCriterion, std::move(p)}; }
Criterion CaptionIs(std::string p, CaptionMode m) {
  return {NodeKind::CaptionCriterion, std::move(p), m};
}

Bytes OneGroup(std::vector<Rule> rules, std::string suffix = {}) {
  Group g;
  g.suffix = std::move(suffix);
  g.rules = std::move(rules);
  return BuildRuleTable({g});
}

MatchResult Match(const Bytes& table, const WindowInfo& w, bool in_explorer = false) {
  MatchContext context;
  context.in_explorer = in_explorer;
  return MatchWindowRule(w, table, context);
}

bool Holds(const Criterion& c, const WindowInfo& w) {
  return !Match(OneGroup({MakeRule(NodeKind::SpecificRule, "R", "\\p=1", {c})}), w).params.empty();
}

void Put32(Bytes& b, std::size_t pos, std::uint32_t v) { std::memcpy(&b[pos], &v, 4); }
std::uint32_t Get32(const Bytes& b, std::size_t pos) {
  std::uint32_t v;
  std::memcpy(&v, &b[pos], 4);
  return v;
}

// ---------------------------------------------------------------------------

TEST(RuleTable, FirstNodeOfKindZeroGivesNothing) {
  const Bytes table = BuildRuleTable({});
  ASSERT_EQ(table.size(), 16u);
  EXPECT_EQ(Get32(table, 0), 16u);
  const MatchResult r = Match(table, Window("C:\\A.EXE", "Any"), true);
  EXPECT_EQ(r.params, "");
  EXPECT_EQ(r.info, RuleInfo{});
}

TEST(RuleTable, DefaultRuleWithoutCriteriaMatchesEveryWindow) {
  struct Case {
    std::string params;
    bool enabled;
  } cases[] = {
      {"\\Enabled=31\\window_rule_name=44", true},
      {"\\Enabled=30\\window_rule_name=44", false},
      {"\\window_rule_name=44\\Enabled=31", false},  // must come first
      {"", false},
  };
  for (const Case& c : cases) {
    const Bytes table =
        OneGroup({MakeRule(NodeKind::DefaultRule, "DefaultWindowRule", c.params, {}, 0xABCD1234)});
    for (const WindowInfo& w : {Window("C:\\X.EXE", "Foo"), Window("", "", "")}) {
      const MatchResult r = Match(table, w);
      EXPECT_EQ(r.params, c.params);
      EXPECT_EQ(r.info.name, "DefaultWindowRule");
      EXPECT_EQ(r.info.rule_type, RuleType::Default);
      EXPECT_EQ(r.info.enabled, c.enabled) << c.params;
      EXPECT_EQ(r.info.params_crc, 0xABCD1234u);
      EXPECT_FALSE(r.info.special_icon);
    }
  }
}

TEST(RuleTable, SpecificWithoutCriteriaNeverHolds) {
  EXPECT_EQ(Match(OneGroup({MakeRule(NodeKind::SpecificRule, "S", "\\a=1", {})}),
                  Window("C:\\X.EXE", "Foo"))
                .info,
            RuleInfo{});
}

TEST(RuleTable, ExclusionRuleGivesItsTypeNameAndParams) {
  const Bytes table = OneGroup({
      MakeRule(NodeKind::ExclusionRule, "NoTools", "\\x=1", {ClassIs("Tool")}, 7),
      MakeRule(NodeKind::DefaultRule, "DefaultWindowRule", "\\Enabled=31", {}, 9),
  });
  MatchResult r = Match(table, Window("C:\\X.EXE", "MyToolWindow"));
  EXPECT_EQ(r.params, "\\x=1");
  EXPECT_EQ(r.info.name, "NoTools");
  EXPECT_EQ(r.info.rule_type, RuleType::Exclusion);
  EXPECT_TRUE(r.info.enabled);
  EXPECT_EQ(r.info.params_crc, 7u);
  // Another class falls through to the default rule.
  r = Match(table, Window("C:\\X.EXE", "Other"));
  EXPECT_EQ(r.info.name, "DefaultWindowRule");
  EXPECT_EQ(r.info.params_crc, 9u);
}

TEST(RuleTable, Criteria) {
  const WindowInfo notepad = Window("C:\\WINDOWS\\NOTEPAD.EXE", "Notepad", "Untitled - Notepad");
  const WindowInfo mfc = Window("C:\\APP.EXE", "Afx:400000:8:10011:0:1234");
  struct Case {
    const char* what;
    Criterion c;
    WindowInfo w;
    bool holds;
  } cases[] = {
      {"caption whole", CaptionIs("Untitled - Notepad", CaptionMode::Whole), notepad, true},
      {"caption whole, part only", CaptionIs("Untitled", CaptionMode::Whole), notepad, false},
      {"caption part", CaptionIs("- Note", CaptionMode::Part), notepad, true},
      {"caption part, case", CaptionIs("notepad", CaptionMode::Part), notepad, false},
      {"caption mode 5", CaptionIs("Untitled - Notepad", static_cast<CaptionMode>(5)), notepad,
       false},
      {"caption mode 1", CaptionIs("Untitled - Notepad", static_cast<CaptionMode>(1)), notepad,
       false},
      {"caption regex, no engine", CaptionIs("Unt.*", CaptionMode::Regex), notepad, false},
      {"empty caption pattern", CaptionIs("", CaptionMode::Part), notepad, false},
      {"class part", ClassIs("tepa"), notepad, true},
      {"class, case", ClassIs("NOTEPAD"), notepad, false},
      {"empty class pattern", ClassIs(""), notepad, false},
      {"Afx: other fields differ", ClassIs("Afx:400000:8:99999:0:0"), mfc, true},
      {"Afx: three fields", ClassIs("Afx:400000:8"), mfc, true},
      {"Afx: module differs", ClassIs("Afx:500000:8:10011:0:1234"), mfc, false},
      {"Afx: style differs", ClassIs("Afx:400000:9:10011:0:1234"), mfc, false},
      {"Afx: class not MFC", ClassIs("Afx:400000:8:1:2"), Window("C:\\A.EXE", "Bfx:400000:8:1"),
       false},
      {"Afx: two fields", ClassIs("Afx:400000:X"), Window("C:\\A.EXE", "Afx:400000"), false},
      {"file spec", FileIs("*\\NOTEPAD.EXE"), notepad, true},
      {"file spec, bare name", FileIs("*\\NOTEPAD.EXE"), Window(WindowFileName("NOTEPAD.EXE"), "N"),
       true},
      {"file part", FileIs("WINDOWS\\NOTE"), notepad, true},
      {"file upper-cased before the test", FileIs("NOTEPAD"),
       Window("c:\\windows\\notepad.exe", "N"), true},
      {"file spec, other program", FileIs("*\\CALC.EXE"), notepad, false},
      {"file spec with question mark", FileIs("C:\\WINDOWS\\NOTEPA?.EXE"), notepad, true},
      {"empty file pattern", FileIs(""), notepad, false},
      // Many stars: answered without the system's backtracking, same result.
      {"file spec, many stars", FileIs("*\\N*T*P*D*.EXE"), notepad, true},
      {"file spec, many stars, no match", FileIs("*A*A*A*A*A*A*A*A*A*A*B"),
       Window("\\" + std::string(250, 'A'), "N"), false},
  };
  for (const Case& c : cases) EXPECT_EQ(Holds(c.c, c.w), c.holds) << c.what;
  EXPECT_EQ(WindowFileName("NOTEPAD.EXE"), "\\NOTEPAD.EXE");
  EXPECT_EQ(WindowFileName("C:\\NOTEPAD.EXE"), "C:\\NOTEPAD.EXE");
}

TEST(RuleTable, AllCriteriaOfARuleMustHold) {
  const Bytes table = OneGroup({MakeRule(NodeKind::SpecificRule, "Both", "\\p=1",
                                         {ClassIs("Notepad"), FileIs("*\\NOTEPAD.EXE")})});
  EXPECT_EQ(Match(table, Window("C:\\NOTEPAD.EXE", "Notepad")).info.name, "Both");
  EXPECT_FALSE(Match(table, Window("C:\\WORDPAD.EXE", "Notepad")).info.name);
  EXPECT_FALSE(Match(table, Window("C:\\NOTEPAD.EXE", "Edit")).info.name);
}

TEST(RuleTable, GroupSuffixEntersChecksumAndParams) {
  // Empty suffix: the checksum is the matched rule's seed; the rule's own
  // parameters never enter it.
  for (const char* params : {"\\a=1", "\\a=2\\b=3"}) {
    const Bytes table =
        OneGroup({MakeRule(NodeKind::SpecificRule, "R", params, {ClassIs("C")}, 0x5EED5EED)});
    const MatchResult r = Match(table, Window("C:\\A.EXE", "C"));
    EXPECT_EQ(r.params, params);
    EXPECT_EQ(r.info.params_crc, 0x5EED5EEDu);
  }
  Rule rule = MakeRule(NodeKind::SpecificRule, "R", "\\a=1", {ClassIs("C")}, 0x5EED5EED);
  rule.special_icon = "i=1;j=2";
  const Bytes table = OneGroup({rule}, "\\skinned=1");
  const MatchResult r = Match(table, Window("C:\\A.EXE", "C"));
  EXPECT_EQ(r.params, "\\a=1\\skinned=1\\special_icons=i=1;j=2");
  EXPECT_EQ(r.info.params_crc, ContinueCrc32(0x5EED5EED, "\\skinned=1"));
  EXPECT_EQ(r.info.special_icon, "i=1;j=2");
  EXPECT_EQ(ContinueCrc32(0, "123456789"), 0xCBF43926u);
}

TEST(RuleTable, FirstHoldingRuleAndFirstProducingGroupWin) {
  Group first;
  first.rules = {MakeRule(NodeKind::SpecificRule, "A", "\\a=1", {ClassIs("Nope")}, 1),
                 MakeRule(NodeKind::SpecificRule, "B", "\\b=1", {ClassIs("Cls")}, 2),
                 MakeRule(NodeKind::SpecificRule, "C", "\\c=1", {ClassIs("Cls")}, 4)};
  Group second;
  second.rules = {MakeRule(NodeKind::DefaultRule, "D", "\\Enabled=31", {}, 8)};
  const Bytes table = BuildRuleTable({first, second});
  EXPECT_EQ(Match(table, Window("C:\\A.EXE", "Cls")).info.name, "B");
  EXPECT_EQ(Match(table, Window("C:\\A.EXE", "Cls")).info.params_crc, 2u);
  EXPECT_EQ(Match(table, Window("C:\\A.EXE", "Zzz")).info.name, "D");
}

TEST(RuleTable, ExplorerRuleOnlyInExplorer) {
  const std::u16string path = u"\"C:\\VT\\Container.exe\" -";
  Group other;
  other.rules = {MakeRule(NodeKind::SpecificRule, "Dlg", "\\d=1", {ClassIs("#32770")})};
  const Bytes table = BuildRuleTable({other, BuiltInExplorerRule(path)});

  for (const char* cls : {"CabinetWClass", "ExploreWClass"}) {
    EXPECT_EQ(Match(table, Window("C:\\WINDOWS\\EXPLORER.EXE", cls), false).info, RuleInfo{});
    const MatchResult r = Match(table, Window("C:\\WINDOWS\\EXPLORER.EXE", cls), true);
    const std::string expected =
        "\\window_rule_name=466F6C69616E74"
        "\\action=FOLIANTACTION{\\name=Foliant\\path=" +
        vm::hooklib::Utf16Hex(path) +
        "}"
        "\\action=BLOCKVISIBILITYACTION{\\name=BlockVisibility\\blocking=-1}"
        "\\action=RECENTFOLDERSACTION{\\name=RecentFolders}";
    EXPECT_EQ(r.params, expected);
    EXPECT_EQ(r.info.name, "Foliant");
    EXPECT_EQ(r.info.rule_type, RuleType::Foliant);
    EXPECT_TRUE(r.info.enabled);
    EXPECT_EQ(r.info.params_crc, ContinueCrc32(0, expected));
  }
  EXPECT_EQ(vm::hooklib::Utf16Hex(u"C:"), "43003A00");
  // Other classes, a switched-off rule, and an earlier group that produced
  // parameters all keep it out.
  EXPECT_EQ(Match(table, Window("C:\\E.EXE", "Progman"), true).info, RuleInfo{});
  ExplorerRule off = BuiltInExplorerRule(path);
  off.enabled = false;
  EXPECT_EQ(Match(BuildRuleTable({off}), Window("C:\\E.EXE", "CabinetWClass"), true).info,
            RuleInfo{});
  Group catch_all;
  catch_all.rules = {MakeRule(NodeKind::DefaultRule, "Def", "\\Enabled=31", {})};
  EXPECT_EQ(Match(BuildRuleTable({catch_all, BuiltInExplorerRule(path)}),
                  Window("C:\\E.EXE", "CabinetWClass"), true)
                .info.name,
            "Def");
}

// ---------------------------------------------------------------------------
// Hostile tables: whatever the block holds, the match reads only the view,
// ends, and gives nothing for the damaged path.

// A table whose one rule matches every window: damage anywhere on its path
// must make the result empty.
Bytes CatchAll() {
  Group g;
  g.suffix = "\\s=1";
  g.rules = {MakeRule(NodeKind::SpecificRule, "R", "\\p=1", {ClassIs("Cls")})};
  return BuildRuleTable({g});
}
// Offsets inside CatchAll(): group at 4, then its counted skin and suffix,
// then the rule and its criterion.
constexpr std::size_t kGroup = 4;
std::size_t RulePos(const Bytes& t) {
  return kGroup + static_cast<std::int32_t>(Get32(t, kGroup + 4));
}
std::size_t CriterionPos(const Bytes& t) {
  const std::size_t rule = RulePos(t);
  return rule + static_cast<std::int32_t>(Get32(t, rule + 4));
}

struct Damage {
  const char* what;
  std::function<void(Bytes&)> apply;
  std::size_t view_cut = 0;  // bytes cut off the view
};

TEST(RuleTableHostile, DamagedTablesGiveNothing) {
  const WindowInfo w = Window("C:\\A.EXE", "Cls");
  ASSERT_EQ(Match(CatchAll(), w).params, "\\p=1\\s=1");  // the intact table matches

  const Damage damages[] = {
      {"truncated block", [](Bytes&) {}, 8},
      {"size word larger than the view", [](Bytes& t) { Put32(t, 0, Get32(t, 0) + 1); }},
      {"size word 0", [](Bytes& t) { Put32(t, 0, 0); }},
      {"size word 3", [](Bytes& t) { Put32(t, 0, 3); }},
      {"size word cuts the rule",
       [](Bytes& t) { Put32(t, 0, static_cast<std::uint32_t>(RulePos(t) + 8)); }},
      {"first child past the end", [](Bytes& t) { Put32(t, kGroup + 4, 0x7FFFFFFF); }},
      {"first child negative",
       [](Bytes& t) { Put32(t, kGroup + 4, static_cast<std::uint32_t>(-8)); }},
      {"first child far negative", [](Bytes& t) { Put32(t, kGroup + 4, 0x80000000u); }},
      {"criterion past the end", [](Bytes& t) { Put32(t, RulePos(t) + 4, 0x7FFFFFF0); }},
      {"criterion in the size word",
       [](Bytes& t) {
         Put32(t, RulePos(t) + 4,
               static_cast<std::uint32_t>(-static_cast<std::int32_t>(RulePos(t))));
       }},
      {"suffix past the end", [](Bytes& t) { Put32(t, kGroup + 20, 0x7FFFFF00); }},
      {"suffix negative",
       [](Bytes& t) { Put32(t, kGroup + 20, static_cast<std::uint32_t>(-100)); }},
      {"rule name past the end", [](Bytes& t) { Put32(t, RulePos(t) + 12, 0x40000000); }},
      {"params negative",
       [](Bytes& t) {
         Put32(t, RulePos(t) + 20,
               static_cast<std::uint32_t>(-static_cast<std::int32_t>(RulePos(t)) - 8));
       }},
      {"icon past the end", [](Bytes& t) { Put32(t, RulePos(t) + 28, 0xFFFFFF00u); }},
      {"pattern past the end", [](Bytes& t) { Put32(t, CriterionPos(t) + 12, 0x10000000); }},
      {"criterion of another kind", [](Bytes& t) { Put32(t, CriterionPos(t), 2); }},
      {"criterion of kind 99", [](Bytes& t) { Put32(t, CriterionPos(t), 99); }},
      {"unterminated last text",
       [](Bytes& t) {
         // The params now point at bytes that run to the end of the block.
         const std::size_t at = t.size();
         t.resize(t.size() + 16, 'A');
         Put32(t, 0, static_cast<std::uint32_t>(t.size()));
         Put32(t, RulePos(t) + 20, static_cast<std::uint32_t>(at - RulePos(t) - 4));
       }},
      {"rule cut by the block end",
       [](Bytes& t) {
         const std::size_t at = t.size();
         t.resize(t.size() + 16, 0);  // a node header fits, a rule's fields do not
         Put32(t, 0, static_cast<std::uint32_t>(t.size()));
         Put32(t, at, 2);
         Put32(t, kGroup + 4, static_cast<std::uint32_t>(at - kGroup));
       }},
  };
  for (const Damage& d : damages) {
    Bytes t = CatchAll();
    d.apply(t);
    const std::span<const std::uint8_t> view(t.data(), t.size() - d.view_cut);
    MatchContext context;
    const MatchResult r = MatchWindowRule(w, view, context);
    EXPECT_EQ(r.params, "") << d.what;
    EXPECT_EQ(r.info, RuleInfo{}) << d.what;
  }
  // Views too small to hold the size word.
  const Bytes t = CatchAll();
  for (std::size_t n : {0, 1, 3}) {
    EXPECT_EQ(MatchWindowRule(w, std::span(t.data(), n), MatchContext{}).info, RuleInfo{});
  }
  EXPECT_EQ(MatchWindowRule(w, std::span<const std::uint8_t>(), MatchContext{}).info, RuleInfo{});
}

// Cycles and huge counts end: each would walk for ever if the walk trusted
// the table.
TEST(RuleTableHostile, CyclesAndHugeCountsEnd) {
  const WindowInfo w = Window("C:\\A.EXE", "Cls");
  Group nomatch;
  nomatch.rules = {MakeRule(NodeKind::SpecificRule, "R", "\\p=1", {ClassIs("Other")})};
  Group nomatch2 = nomatch;
  const Damage damages[] = {
      {"top-level Next to itself", [](Bytes& t) { Put32(t, kGroup + 8, 0); }},
      {"top-level Next back and forth",
       [](Bytes& t) {
         const std::size_t second = kGroup + Get32(t, kGroup + 8);
         Put32(t, second + 8,
               static_cast<std::uint32_t>(-static_cast<std::int32_t>(second - kGroup)));
       }},
      {"group FirstChild to itself, ChildCount 2^31",
       [](Bytes& t) {
         Put32(t, kGroup + 4, 0);
         Put32(t, kGroup + 12, 0x80000000u);
       }},
      {"rule Next to itself, ChildCount 2^31",
       [](Bytes& t) {
         Put32(t, RulePos(t) + 8, 0);
         Put32(t, kGroup + 12, 0x80000000u);
       }},
      {"ChildCount 0xFFFFFFFF", [](Bytes& t) { Put32(t, kGroup + 12, 0xFFFFFFFFu); }},
  };
  for (const Damage& d : damages) {
    Bytes t = BuildRuleTable({nomatch, nomatch2});
    d.apply(t);
    const MatchResult r = MatchWindowRule(w, t, MatchContext{});
    EXPECT_EQ(r.params, "") << d.what;
    EXPECT_EQ(r.info, RuleInfo{}) << d.what;
  }
  // A criterion that holds, looping on itself with CriteriaCount 2^31: the
  // rule cannot be shown to hold, so it does not.
  Bytes t = CatchAll();
  Put32(t, CriterionPos(t) + 8, 0);
  Put32(t, RulePos(t) + 16, 0x80000000u);
  EXPECT_EQ(MatchWindowRule(w, t, MatchContext{}).info, RuleInfo{});
  // A rule whose FirstChild is itself: a rule node is no criterion.
  t = CatchAll();
  Put32(t, RulePos(t) + 4, 0);
  EXPECT_EQ(MatchWindowRule(w, t, MatchContext{}).info, RuleInfo{});
}

TEST(RuleTableHostile, CountedPathPastTheEnd) {
  const WindowInfo w = Window("C:\\E.EXE", "CabinetWClass");
  const Bytes good = BuildRuleTable({BuiltInExplorerRule(u"C:\\c.exe")});
  ASSERT_EQ(MatchWindowRule(w, good, {true}).info.name, "Foliant");
  const std::size_t path = kGroup + Get32(good, kGroup + 16);
  for (std::uint32_t length : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u, 100u}) {
    Bytes t = good;
    Put32(t, path, length);
    EXPECT_EQ(MatchWindowRule(w, t, {true}).info, RuleInfo{}) << length;
  }
  for (std::uint32_t offset : {0x7FFFFFF0u, static_cast<std::uint32_t>(-4), 0x80000000u}) {
    Bytes t = good;
    Put32(t, kGroup + 16, offset);
    EXPECT_EQ(MatchWindowRule(w, t, {true}).info, RuleInfo{}) << offset;
  }
}

// Random bytes behind a valid size word: no crash, no hang (the native run
// checks every read with the address sanitizer).
TEST(RuleTableHostile, RandomBlocksEnd) {
  std::mt19937 random(1234);
  const WindowInfo w = Window("C:\\A.EXE", "CabinetWClass", "cap");
  for (int round = 0; round < 2000; ++round) {
    Bytes t(4 + random() % 400);
    for (auto& b : t) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 9 : random());
    Put32(t, 0, static_cast<std::uint32_t>(t.size()));
    MatchWindowRule(w, t, {true});
  }
  SUCCEED();
}

// ---------------------------------------------------------------------------

TEST(RuleTableBenchmark, TwoHundredRules) {
  Group g;
  for (int i = 0; i < 200; ++i) {
    g.rules.push_back(MakeRule(NodeKind::SpecificRule, "Rule" + std::to_string(i),
                               "\\Enabled=31\\window_rule_name=52",
                               {CaptionIs("Document", CaptionMode::Part), FileIs("*\\APP.EXE"),
                                ClassIs("<" + std::to_string(i) + ">")}));
  }
  const Bytes table = BuildRuleTable({g, BuiltInExplorerRule(u"C:\\c.exe")});
  // Only the last rule holds: every rule tests all three criteria.
  const WindowInfo w = Window("C:\\Programs\\App.exe", "<199>", "Document 1 - App");
  auto measure = [&](const char* what, const MatchContext& context) {
    ASSERT_EQ(MatchWindowRule(w, table, context).info.name, "Rule199");
    const int calls = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) MatchWindowRule(w, table, context);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf(
        "[ benchmark ] MatchWindowRule, 200 rules x (caption, file, class), %zu-byte table, %s: "
        "%lld ns per call\n",
        table.size(), what, static_cast<long long>(ns / calls));
  };
  MatchContext context;
  measure("DefaultSpecMatcher (PathMatchSpecA on Windows)", context);
  context.spec_match = &vm::hooklib::PortableMatchSpec;
  context.upper_case = &vm::hooklib::AsciiUpperCase;
  measure("PortableMatchSpec", context);
}

}  // namespace
