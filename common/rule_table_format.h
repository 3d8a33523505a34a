#pragma once
// The node format of the window rule table that the control program writes
// into the block "..._ParamStrings_" + id and the hook library reads. Both
// sides build on these constants; the reader is hooklib/app/rule_table, the
// writer common/rule_table_builder.
//
// Block (all fields 32-bit little-endian):
//   0  total size of the block in bytes (this word included)
//   4  first node of the top-level list (groups and built-in rules)
// Node header: 0 Kind (0 ends a list), 4 FirstChild, 8 Next. Child, sibling
// and text offsets are relative to the node's own address. A text offset t
// names the zero-terminated ANSI text at node + t + 4 (t = 0: no text); a
// counted text's offset points at its 32-bit length.
//   1 rule group:  12 ChildCount, 16 counted ANSI skin name (unused by the
//                  library), 20 text offset of the suffix
//   2/3/4 specific / default / exclusion rule: 12 name, 16 CriteriaCount,
//                  20 parameters, 24 checksum seed, 28 special-icon text
//   5 caption criterion: 12 pattern, 16 mode (-2 regex, -1 whole, 0 part)
//   6 file criterion, 7 class criterion: 12 pattern
//   8 built-in Explorer rule: 12 enabled, 16 counted UTF-16 path
#include <cstddef>
#include <cstdint>

namespace vm::rules {

enum class NodeKind : std::uint32_t {
  End = 0,
  Group = 1,
  SpecificRule = 2,
  DefaultRule = 3,
  ExclusionRule = 4,
  CaptionCriterion = 5,
  FileCriterion = 6,
  ClassCriterion = 7,
  ExplorerRule = 8,
};

enum class CaptionMode : std::int32_t { Regex = -2, Whole = -1, Part = 0 };

// Fixed sizes of the nodes, header included.
inline constexpr std::size_t kBlockHeaderSize = 4;
inline constexpr std::size_t kNodeHeaderSize = 12;
inline constexpr std::size_t kGroupNodeSize = 24;
inline constexpr std::size_t kRuleNodeSize = 32;
inline constexpr std::size_t kCaptionNodeSize = 20;
inline constexpr std::size_t kPatternNodeSize = 16;
inline constexpr std::size_t kExplorerNodeSize = 20;

}  // namespace vm::rules
