// libFuzzer target: the rule table walk over arbitrary blocks, and the rules
// file reader feeding the builder and the walk. Whatever the bytes, the walk
// must stay inside the view (the address sanitizer checks every read) and
// end; a table built from any rules text must be read back without fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/rule_table_builder.h"
#include "common/rules_file.h"
#include "hooklib/app/rule_table.h"

namespace {

using namespace vm::hooklib;

// A stand-in engine: "holds" when the pattern occurs in the subject.
class FindEngine final : public RegexEngine {
 public:
  bool Matches(const void*, std::string_view pattern, std::string_view subject) noexcept override {
    return subject.find(pattern) != std::string_view::npos;
  }
};

const WindowInfo& Windows(std::size_t i) {
  static const WindowInfo windows[] = {
      {1, "C:\\WINDOWS\\EXPLORER.EXE", "CabinetWClass", "C:\\"},
      {2, "\\NOTEPAD.EXE", "Notepad", "Untitled - Notepad"},
      {3, "c:\\app\\mfc.exe", "Afx:400000:8:10011:0:0", "Doc1"},
      {4, "", "", ""},
  };
  return windows[i % 4];
}

void MatchAll(std::span<const std::uint8_t> view, std::uint8_t selector) {
  FindEngine engine;
  MatchContext context;
  context.in_explorer = selector & 2;
  context.regex = (selector & 4) ? &engine : nullptr;
  const MatchResult r = MatchWindowRule(Windows(selector >> 3), view, context);
  // What a match gives must be consistent with itself.
  if (!r.params.empty() && r.info.rule_type == RuleType::None) __builtin_trap();
}

// Seeds the fuzzer starts from: real tables, so mutations reach deep nodes.
std::vector<std::uint8_t> SeedTable() {
  using namespace vm::rules;
  Group g;
  g.suffix = "\\s=1";
  Rule a{NodeKind::SpecificRule, "A", "\\a=1", 5, "ic", {{NodeKind::ClassCriterion, "Notepad"}}};
  Rule b{NodeKind::ExclusionRule,
         "B",
         "\\b=1",
         6,
         std::nullopt,
         {{NodeKind::FileCriterion, "*\\MFC.EXE"},
          {NodeKind::CaptionCriterion, "Doc", CaptionMode::Regex}}};
  Rule c{NodeKind::DefaultRule, "C", "\\Enabled=31", 7, std::nullopt, {}};
  g.rules = {a, b, c};
  return BuildRuleTable({BuiltInExplorerRule(u"C:\\c.exe -"), g});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    // Make sure the seed path is exercised at least once per run.
    const auto seed = SeedTable();
    for (std::uint8_t s = 0; s < 32; ++s) MatchAll(seed, s);
    return 0;
  }
  const std::uint8_t selector = data[0];
  ++data;
  --size;
  if (selector & 1) {
    // Rules text -> builder -> walk.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto table = vm::rules::BuildTableFromRules(text, u"C:\\c.exe -");
    MatchAll(table.bytes, selector);
    return 0;
  }
  // Raw block; a size word equal to the view now and then, so the walk goes in.
  std::vector<std::uint8_t> block(data, data + size);
  if ((selector & 0x80) && block.size() >= 4) {
    const std::uint32_t n = static_cast<std::uint32_t>(block.size());
    std::memcpy(block.data(), &n, 4);
  }
  MatchAll(block, selector);
  // The same bytes spliced into a real table's tail.
  if (selector & 0x40) {
    std::vector<std::uint8_t> seed = SeedTable();
    const std::size_t keep = seed.size() / 2;
    seed.resize(keep);
    seed.insert(seed.end(), data, data + size);
    const std::uint32_t n = static_cast<std::uint32_t>(seed.size());
    std::memcpy(seed.data(), &n, 4);
    MatchAll(seed, selector);
  }
  return 0;
}
