#pragma once
// The window rules as a plain text file in the configuration folder, read
// into builder input (common/rule_table_builder.h). One rule per line; a bad
// line is reported with its number and the reason and left out, the rest
// still applies. No windows.h: built natively and fuzzed.
//
// Grammar (the file's bytes are taken as ANSI text; CR LF or LF line ends; a
// UTF-8 byte-order mark at the start is skipped):
//
//   # a comment: a line whose first non-blank character is "#"
//   group [suffix=TEXT] [skin=TEXT]
//   explorer [on|off]
//   specific NAME CRITERION... [OPTION...]
//   default  NAME [CRITERION...] [OPTION...]
//   exclude  NAME CRITERION... [OPTION...]
//
//   CRITERION: class=TEXT      the window class contains TEXT (also the MFC "Afx:" rule)
//              file=TEXT       the executable's path contains TEXT, or matches it as
//                              a PathMatchSpec wildcard (*\NOTEPAD.EXE); stored upper-case
//              caption=TEXT    the caption is exactly TEXT
//              caption*=TEXT   the caption contains TEXT
//              caption~=REGEX  a PCRE regular expression matches somewhere in the caption
//   OPTION:    enabled=1|0     the rule's "Enabled" parameter (default 1)
//              icon=TEXT       the rule's special-icon text
//              param:NAME=TEXT parameter NAME with TEXT as its hexadecimal value
//              raw=TEXT        TEXT appended to the parameters as written ("\" put in
//                              front when missing), for nested texts such as actions
//
// Words are separated by blanks or tabs. A value may be put in double quotes
// to hold blanks (caption="Untitled - Notepad"); inside quotes a double
// quote is written twice. Backslashes are plain characters. Every criterion
// of a rule must hold; a default rule without criteria matches every window.
//
// A "group" line starts a new rule group: the rules below it belong to it
// (rules before the first group line form a group of their own). Groups are
// tried in file order, and within a group the rules in file order; the first
// rule that holds wins. Its parameters are "\Enabled=31" (or "30"),
// "\window_rule_name=" + the name in hexadecimal, then the params and raw
// texts in line order, then the group's suffix.
//
// The built-in Explorer rule (folder windows of explorer.exe become tabs) is
// always part of the table, before all groups unless an "explorer" line puts
// it elsewhere; "explorer off" keeps it in the table switched off.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/rule_table_builder.h"

namespace vm::rules {

struct RulesFileError {
  std::size_t line = 0;  // 1-based
  std::string reason;
};

struct RulesFileContent {
  std::vector<TopNode> nodes;  // builder input, the Explorer rule included
  std::vector<RulesFileError> errors;
};

struct RulesFileTable {
  std::vector<std::uint8_t> bytes;  // the block to publish
  std::vector<RulesFileError> errors;
};

RulesFileContent ReadRulesFile(std::string_view text, std::u16string_view container_command_line);

// What the control program publishes for a rules file: never throws; a
// table too large for the format is reported (line 0) and gives a table
// with the Explorer rule alone.
RulesFileTable BuildTableFromRules(std::string_view text,
                                   std::u16string_view container_command_line);

}  // namespace vm::rules
