#pragma once
// Where the published rule table comes from. For now the table holds only
// the built-in Explorer rule; the full table builder and the rules-file
// reader take this interface's place later, so nothing else in the program
// knows how the bytes are made. Plain code, no windows.h.
#include <cstdint>
#include <string>

namespace vm::controlcenter {

class RuleTableSource {
 public:
  virtual ~RuleTableSource() = default;
  // The whole block: the 32-bit size word (the block's length, itself
  // included) followed by the node list. `tabs_enabled` is the state of the
  // "Tabs on" switch, which enables or disables the built-in Explorer rule.
  virtual std::string TableBytes(bool tabs_enabled) = 0;
  // True when what the table is made from changed since the last
  // TableBytes, so that it is published again.
  virtual bool Changed() const { return false; }
};

// A table of one built-in Explorer rule node (kind 8) whose path is the
// command line that starts the container program, then the end node.
class BuiltInRuleTableSource final : public RuleTableSource {
 public:
  explicit BuiltInRuleTableSource(std::wstring container_command_line)
      : command_line_(std::move(container_command_line)) {}
  std::string TableBytes(bool tabs_enabled) override;

 private:
  std::wstring command_line_;
};

// Node kinds and field offsets of the rule table as the hook library reads it.
inline constexpr std::uint32_t kNodeEnd = 0;
inline constexpr std::uint32_t kNodeBuiltInExplorerRule = 8;
inline constexpr std::size_t kNodeHeaderSize = 12;  // kind, first child, next
inline constexpr std::size_t kBuiltInEnabledOffset = 12;
inline constexpr std::size_t kBuiltInPathOffset = 16;  // points at the counted UTF-16 text

// The container program's command line for a product folder ending in a
// backslash: the quoted program path and its one argument "-".
std::wstring ContainerCommandLine(const std::wstring& product_folder);

}  // namespace vm::controlcenter
