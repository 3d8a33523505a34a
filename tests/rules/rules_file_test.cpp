// The rules file: good lines become table input, bad lines are reported with
// their number and reason and left out, and the resulting table matches the
// way the lines say. Window-free: under Wine and natively.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "common/rules_file.h"
#include "hooklib/app/rule_table.h"

namespace {

using namespace vm::rules;
using vm::hooklib::MatchContext;
using vm::hooklib::MatchWindowRule;
using vm::hooklib::RuleType;
using vm::hooklib::WindowInfo;

constexpr char16_t kContainer[] = u"\"C:\\VT\\VellmarkToolsTabbedContainer64.exe\" -";

WindowInfo Window(std::string file, std::string cls, std::string caption) {
  WindowInfo w;
  w.file_name = std::move(file);
  w.window_class = std::move(cls);
  w.window_caption = std::move(caption);
  return w;
}

TEST(RulesFile, BadLinesAreReportedAndTheRestApplies) {
  const char text[] =
      "# window rules\r\n"                                                // 1
      "\r\n"                                                              // 2
      "group suffix=\\skin=1\n"                                           // 3
      "exclude NoDialogs class=#32770\n"                                  // 4
      "specific Notepad file=*\\notepad.exe caption*=Notepad icon=n=1\n"  // 5
      "specific Broken file=\n"                                           // 6 empty pattern
      "specific NoCriteria param:x=1\n"                                   // 7 no criterion
      "frobnicate x=1\n"                                                  // 8 unknown kind
      "specific \"Two words\" caption=\"Untitled - Paint\" raw=action=X{\\a=1}\n"  // 9
      "specific Quote caption=\"open\n"              // 10 unterminated
      "default DefaultWindowRule enabled=2\n"        // 11 bad enabled
      "specific Odd colour=red class=A\n"            // 12 unknown key
      "specific\n"                                   // 13 no name
      "group\n"                                      // 14
      "default DefaultWindowRule param:Mode=fast\n"  // 15
      "explorer sideways\n"                          // 16 bad explorer
      "specific Nul class=A\0B\n"                    // 17 zero byte
      "group tint=blue\n"                            // 18 bad group key
      "specific Last caption~=^Doc[0-9]+$ bare\n";   // 19 not key=value
  const RulesFileContent content =
      ReadRulesFile(std::string_view(text, sizeof(text) - 1), kContainer);

  const std::vector<std::size_t> bad = {6, 7, 8, 10, 11, 12, 13, 16, 17, 18, 19};
  ASSERT_EQ(content.errors.size(), bad.size());
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(content.errors[i].line, bad[i]) << content.errors[i].reason;
    EXPECT_FALSE(content.errors[i].reason.empty());
  }
  EXPECT_NE(content.errors[0].reason.find("empty pattern"), std::string::npos);
  EXPECT_NE(content.errors[3].reason.find("unterminated"), std::string::npos);

  // Explorer rule first, then the two groups.
  ASSERT_EQ(content.nodes.size(), 3u);
  const auto& explorer = std::get<ExplorerRule>(content.nodes[0]);
  EXPECT_TRUE(explorer.enabled);
  EXPECT_EQ(explorer.path, kContainer);
  const auto& first = std::get<Group>(content.nodes[1]);
  EXPECT_EQ(first.suffix, "\\skin=1");
  ASSERT_EQ(first.rules.size(), 3u);
  EXPECT_EQ(first.rules[0].kind, NodeKind::ExclusionRule);
  EXPECT_EQ(first.rules[1].criteria[0].pattern, "*\\NOTEPAD.EXE");  // stored upper-case
  EXPECT_EQ(first.rules[1].criteria[1].mode, CaptionMode::Part);
  EXPECT_EQ(first.rules[1].special_icon, "n=1");
  EXPECT_EQ(first.rules[2].name, "Two words");
  EXPECT_EQ(first.rules[2].criteria[0].pattern, "Untitled - Paint");
  EXPECT_EQ(first.rules[2].criteria[0].mode, CaptionMode::Whole);
  EXPECT_EQ(first.rules[2].params,
            "\\Enabled=31\\window_rule_name=54776F20776F726473\\action=X{\\a=1}");
  const auto& second = std::get<Group>(content.nodes[2]);
  ASSERT_EQ(second.rules.size(), 1u);
  EXPECT_EQ(second.rules[0].params,
            "\\Enabled=31\\window_rule_name=44656661756C7457696E646F7752756C65\\Mode=66617374");
}

TEST(RulesFile, TableMatchesAsTheLinesSay) {
  const char text[] =
      "explorer off\n"
      "group suffix=\\g=1\n"
      "exclude NoDialogs class=#32770\n"
      "specific Notepad file=*\\notepad.exe\n"
      "specific Docs caption~=^Doc[0-9]+$\n"
      "default DefaultWindowRule enabled=0\n";
  const RulesFileTable table = BuildTableFromRules(text, kContainer);
  ASSERT_TRUE(table.errors.empty()) << table.errors[0].reason;
  MatchContext context;
  context.in_explorer = true;
  struct Case {
    WindowInfo w;
    const char* name;
    RuleType type;
    bool enabled;
  } cases[] = {
      {Window("C:\\X.EXE", "#32770", "Open"), "NoDialogs", RuleType::Exclusion, true},
      {Window("C:\\Windows\\notepad.exe", "Notepad", "x"), "Notepad", RuleType::Specific, true},
      // No pattern library here: the regular expression does not hold.
      {Window("C:\\W.EXE", "W", "Doc12"), "DefaultWindowRule", RuleType::Default, false},
      // The Explorer rule is switched off.
      {Window("C:\\E.EXE", "CabinetWClass", "C:\\"), "DefaultWindowRule", RuleType::Default, false},
  };
  for (const Case& c : cases) {
    const auto r = MatchWindowRule(c.w, table.bytes, context);
    EXPECT_EQ(r.info.name, c.name) << c.w.window_class;
    EXPECT_EQ(r.info.rule_type, c.type) << c.w.window_class;
    EXPECT_EQ(r.info.enabled, c.enabled) << c.w.window_class;
    EXPECT_TRUE(r.params.ends_with("\\g=1")) << r.params;
  }
}

TEST(RulesFile, ExplorerRuleIsAlwaysInTheTable) {
  MatchContext context;
  context.in_explorer = true;
  const WindowInfo folder = Window("C:\\E.EXE", "CabinetWClass", "C:\\");
  for (const char* text : {"", "# nothing\n", "garbage line\n", "default D\nexplorer\n"}) {
    const RulesFileTable table = BuildTableFromRules(text, kContainer);
    const auto r = MatchWindowRule(folder, table.bytes, context);
    if (std::string_view(text).starts_with("default")) {
      EXPECT_EQ(r.info.name, "D");  // placed after the default rule on purpose
    } else {
      EXPECT_EQ(r.info.name, "Foliant") << text;
      EXPECT_NE(r.params.find(vm::hooklib::Utf16Hex(kContainer)), std::string::npos);
    }
  }
  const RulesFileTable marked = BuildTableFromRules(
      "\xEF\xBB\xBF"
      "default D\n",
      kContainer);
  EXPECT_TRUE(marked.errors.empty());
  EXPECT_EQ(MatchWindowRule(Window("C:\\A.EXE", "A", "a"), marked.bytes, context).info.name, "D");
  const RulesFileTable twice = BuildTableFromRules("explorer\nexplorer on\n", kContainer);
  ASSERT_EQ(twice.errors.size(), 1u);
  EXPECT_EQ(twice.errors[0].line, 2u);
}

}  // namespace
