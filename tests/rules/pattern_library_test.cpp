// Regular-expression caption criteria through the real pcre64.dll, loaded
// from the product folder (bin here), and the C locale of the host process
// left as it was.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <clocale>
#include <string>

#include "common/rule_table_builder.h"
#include "hooklib/app/pattern_library.h"
#include "tests/support/paths.h"

namespace {

using vm::hooklib::PatternLibrary;
const int kTable = 0;  // stands for a rule table's address

TEST(PatternLibrary, RegexThroughTheProductFolder) {
  const std::string locale_before = std::setlocale(LC_ALL, nullptr);
  PatternLibrary lib;
  lib.SetProductFolder(vm::test::BinDir());
  EXPECT_EQ(lib.ProductFolder(), vm::test::BinDir() + L"\\");
  EXPECT_FALSE(lib.Loaded());  // loaded on first use
  struct Case {
    const char* pattern;
    const char* subject;
    bool holds;
  } cases[] = {
      {"^Doc[0-9]+ - Editor$", "Doc12 - Editor", true},
      {"^Doc[0-9]+ - Editor$", "Doc12 - Editor (2)", false},
      {"Edit", "Doc12 - Editor", true},   // somewhere in the caption
      {"edit", "Doc12 - Editor", false},  // no options: case-sensitive
      {"[[:alpha:]]+ \\d", "Page 3", true},
      {"(unbalanced", "(unbalanced", false},  // does not compile: never holds
      {"", "anything", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(lib.Matches(&kTable, c.pattern, c.subject), c.holds) << c.pattern;
  EXPECT_TRUE(lib.Loaded());
  // Compiled once per table, failures included; a new table starts afresh.
  EXPECT_EQ(lib.CachedPatterns(), 5u);
  EXPECT_TRUE(lib.Matches(&kTable, "Edit", "Editor"));
  EXPECT_EQ(lib.CachedPatterns(), 5u);
  const int other_table = 0;
  EXPECT_TRUE(lib.Matches(&other_table, "Edit", "Editor"));
  EXPECT_EQ(lib.CachedPatterns(), 1u);

  // Backtracking without end and deep recursion stop at PCRE's limits.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(lib.Matches(&kTable, "(a+)+$", std::string(40, 'a') + "!"));
  EXPECT_FALSE(lib.Matches(&kTable, "(a|b)*c", std::string(60000, 'a')));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::printf("[ figure ] hostile patterns gave up after %lld ms\n", static_cast<long long>(ms));

  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), locale_before);
  lib.Done();
  EXPECT_FALSE(lib.Loaded());
  EXPECT_EQ(lib.ProductFolder(), L"");
  EXPECT_FALSE(lib.Matches(&kTable, "Edit", "Editor"));  // no folder after Done
}

TEST(PatternLibrary, WithoutProductFolderNothingHolds) {
  PatternLibrary lib;
  EXPECT_FALSE(lib.Matches(&kTable, "Edit", "Editor"));
  EXPECT_FALSE(lib.Loaded());
  // A folder without the library: does not hold, and is not retried per call.
  lib.SetProductFolder(vm::test::TestDir());
  EXPECT_FALSE(lib.Matches(&kTable, "Edit", "Editor"));
  EXPECT_FALSE(lib.Loaded());
  // The service block's folder: 261 UTF-16 characters at offset 0.
  std::wstring block(300, L'\0');
  const std::wstring bin = vm::test::BinDir();
  block.replace(0, bin.size(), bin);
  lib.SetProductFolderFromServiceBlock(block.data(), 567);
  EXPECT_EQ(lib.ProductFolder(), bin + L"\\");
  EXPECT_TRUE(lib.Matches(&kTable, "Edit", "Editor"));
  // A folder that fills all 261 characters without a terminator stays inside them.
  std::wstring full(300, L'x');
  lib.SetProductFolderFromServiceBlock(full.data(), 567);
  EXPECT_EQ(lib.ProductFolder().size(), 262u);
  EXPECT_FALSE(lib.Loaded());
}

TEST(PatternLibrary, CaptionCriterionInATable) {
  using namespace vm::rules;
  Group g;
  Rule r;
  r.kind = NodeKind::SpecificRule;
  r.name = "Docs";
  r.params = "\\d=1";
  r.criteria = {{NodeKind::CaptionCriterion, "^Doc[0-9]+$", CaptionMode::Regex}};
  g.rules = {r};
  const auto table = BuildRuleTable({g});
  PatternLibrary lib;
  vm::hooklib::MatchContext context;
  context.regex = &lib;
  vm::hooklib::WindowInfo w;
  w.window_caption = "Doc42";
  EXPECT_FALSE(vm::hooklib::MatchWindowRule(w, table, context).info.name);  // no folder yet
  lib.SetProductFolder(vm::test::BinDir());
  EXPECT_EQ(vm::hooklib::MatchWindowRule(w, table, context).info.name, "Docs");
  w.window_caption = "Doc42!";
  EXPECT_FALSE(vm::hooklib::MatchWindowRule(w, table, context).info.name);
}

}  // namespace
