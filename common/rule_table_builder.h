#pragma once
// Writes the window rule table (format in common/rule_table_format.h) from a
// plain description: the control program publishes what this builds, and
// tests build their tables with it. No windows.h, so it is built natively
// and fuzzed with the reader.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/rule_table_format.h"

namespace vm::rules {

struct Criterion {
  NodeKind kind = NodeKind::ClassCriterion;  // CaptionCriterion, FileCriterion or ClassCriterion
  std::string pattern;                       // ANSI; file patterns are compared upper-case
  CaptionMode mode = CaptionMode::Part;      // caption criteria only
};

struct Rule {
  NodeKind kind = NodeKind::SpecificRule;  // SpecificRule, DefaultRule or ExclusionRule
  std::optional<std::string> name;         // no text at all when empty
  std::string params;                      // the rule's parameter text
  std::optional<std::uint32_t> seed;       // checksum seed; DefaultSeed(rule) when not given
  std::optional<std::string> special_icon;
  std::vector<Criterion> criteria;
};

struct Group {
  std::string skin;    // written as the counted skin name; the hook library ignores it
  std::string suffix;  // appended to a matched rule's parameters
  std::vector<Rule> rules;
};

struct ExplorerRule {
  bool enabled = true;
  std::u16string path;  // the command line that starts the container program
};

using TopNode = std::variant<Group, ExplorerRule>;

// The checksum seed a rule gets when it names none: the CRC-32 of its name,
// parameters and special-icon text, so that any change of the rule changes
// the checksum the hook library hands on with it.
std::uint32_t DefaultSeed(const Rule& rule);

// The whole block, size word first. Every list ends with a node of kind 0,
// ChildCount and CriteriaCount are the real counts, every text is written
// both counted and zero-terminated. Throws std::length_error when the block
// would not fit the format's 32-bit offsets.
std::vector<std::uint8_t> BuildRuleTable(const std::vector<TopNode>& nodes);

// The built-in rule that makes Explorer folder windows tabs: enabled, with
// the container program's command line as its path.
ExplorerRule BuiltInExplorerRule(std::u16string_view container_command_line);

// UTF-16 from a wide text (the low 16 bits of each unit; on Windows that is
// all of wchar_t).
std::u16string ToUtf16(std::wstring_view text);

}  // namespace vm::rules
