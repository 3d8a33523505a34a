#pragma once
// The window rule table as the control program publishes it, and the match
// of one window against it. The block lives in shared memory that any
// process of the session can write, so the walk trusts nothing in it: every
// node, text and counted length is checked against the block before it is
// read, every list walk is bounded, and a table that breaks the rules only
// makes criteria fail or walks end. No windows.h here: the walk is built
// natively, unit tested with sanitizers and fuzzed.
//
// The node format is described in common/rule_table_format.h.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/rule_table_format.h"

namespace vm::hooklib {

using rules::CaptionMode;
using rules::kBlockHeaderSize;
using rules::kCaptionNodeSize;
using rules::kExplorerNodeSize;
using rules::kGroupNodeSize;
using rules::kNodeHeaderSize;
using rules::kPatternNodeSize;
using rules::kRuleNodeSize;
using rules::NodeKind;

enum class RuleType : std::uint32_t {
  None = 0,
  Default = 1,
  Specific = 2,
  Exclusion = 3,
  VirtualDesktop = 4,
  Foliant = 5,
};

// What the match sees of a window. All texts ANSI. `wnd` is the window
// handle as a number, only carried along for the caller.
struct WindowInfo {
  std::uintptr_t wnd = 0;
  std::string file_name;  // full path of the owner's executable; "\" + name when it has no folder
  std::string window_class;
  std::string window_caption;
};

struct RuleInfo {
  std::optional<std::string> name;  // null until a rule that has a name matched
  RuleType rule_type = RuleType::None;
  std::uint32_t params_crc = 0;
  bool enabled = false;
  std::optional<std::string> special_icon;

  bool operator==(const RuleInfo&) const = default;
};

struct MatchResult {
  std::string params;
  RuleInfo info;
};

// Regular-expression caption criteria go to the pattern library; matching
// without one makes them fail. `table` identifies the block the pattern came
// from (the library keeps its compiled patterns per table).
class RegexEngine {
 public:
  virtual bool Matches(const void* table, std::string_view pattern,
                       std::string_view subject) noexcept = 0;

 protected:
  ~RegexEngine() = default;
};

// PathMatchSpecA-like test of a file name against a spec; the Windows build
// uses the system's own (see DefaultSpecMatcher).
using SpecMatcher = bool (*)(std::string_view file_name, std::string_view spec);
// Upper-cases an ANSI text in place the way the control program stored the
// file patterns (the user's code page on Windows, ASCII elsewhere).
using AnsiUpperCaser = void (*)(std::string& text);

// Wildcards of PathMatchSpec ("*" any run, "?" one character, case-blind
// for ASCII, several specs separated by ";" with leading blanks skipped) in
// linear time, whatever the pattern.
bool PortableMatchSpec(std::string_view file_name, std::string_view spec);
void AsciiUpperCase(std::string& text);

// PathMatchSpecA on Windows, except for specs with so many "*" that its
// backtracking could hold the host's thread for long: those go to
// PortableMatchSpec. PortableMatchSpec elsewhere.
SpecMatcher DefaultSpecMatcher();
// LCMapStringA upper case on Windows, ASCII elsewhere.
AnsiUpperCaser DefaultUpperCaser();

struct MatchContext {
  bool in_explorer = false;  // the host process is explorer.exe
  RegexEngine* regex = nullptr;
  SpecMatcher spec_match = DefaultSpecMatcher();
  AnsiUpperCaser upper_case = DefaultUpperCaser();
};

// Matches a window against the table in `view`: the mapped block from its
// size word on, `view.size()` being the real size of the mapping. A size
// word below 4 or above the view, or a view too small to hold it, gives the
// empty result. Never throws, never reads outside `view`, ends for every
// content of it.
MatchResult MatchWindowRule(const WindowInfo& info, std::span<const std::uint8_t> view,
                            const MatchContext& context) noexcept;

// The file name as the match expects it: a name without a folder part gets
// "\" put in front.
std::string WindowFileName(std::string path);

// WPF window classes ("HwndWrapper[app;;GUID]", longer than 50 characters)
// lose the 36 characters of the GUID before the final "]". Other names are
// returned unchanged.
bool IsWpfClassName(std::string_view name);
std::string TrimWpfClassName(std::string name);

// Hexadecimal forms used in parameter texts.
std::string AnsiHex(std::string_view text);
std::string Utf16Hex(std::u16string_view text);

// CRC-32 of `bytes` with `start` as the starting value (inverted before and
// after, so empty input gives `start` back).
std::uint32_t ContinueCrc32(std::uint32_t start, std::string_view bytes) noexcept;

// The parameter text of the built-in Explorer rule for a container command line.
std::string ExplorerRuleParams(std::u16string_view path);

}  // namespace vm::hooklib
