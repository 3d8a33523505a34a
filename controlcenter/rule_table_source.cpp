#include "controlcenter/rule_table_source.h"

#include "common/names.h"

namespace vm::controlcenter {
namespace {

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Append32(std::string& out, std::uint32_t value) {
  out.append(4, '\0');
  Put32(out, out.size() - 4, value);
}

}  // namespace

std::string BuiltInRuleTableSource::TableBytes(bool tabs_enabled) {
  std::string block;
  Append32(block, 0);  // size, filled in at the end

  const std::size_t node = block.size();
  Append32(block, kNodeBuiltInExplorerRule);
  Append32(block, 0);  // no children
  Append32(block, 0);  // next, filled in below
  Append32(block, tabs_enabled ? 1 : 0);
  Append32(block, 0);  // path offset, filled in below

  // The path: a character count, the UTF-16LE characters, and a terminator
  // the reader does not need but a careless one will not run past.
  const std::size_t text = block.size();
  Put32(block, node + kBuiltInPathOffset, static_cast<std::uint32_t>(text - node));
  Append32(block, static_cast<std::uint32_t>(command_line_.size()));
  for (wchar_t c : command_line_) {
    const auto unit = static_cast<std::uint16_t>(c);
    block.push_back(static_cast<char>(unit & 0xFF));
    block.push_back(static_cast<char>(unit >> 8));
  }
  block.append(2, '\0');
  while (block.size() % 4 != 0) block.push_back('\0');

  // The end of the top-level list.
  const std::size_t end = block.size();
  Put32(block, node + 8, static_cast<std::uint32_t>(end - node));
  Append32(block, kNodeEnd);
  Append32(block, 0);
  Append32(block, 0);

  Put32(block, 0, static_cast<std::uint32_t>(block.size()));
  return block;
}

std::wstring ContainerCommandLine(const std::wstring& product_folder) {
  return L"\"" + product_folder + names::kContainerExe + L"\" -";
}

}  // namespace vm::controlcenter
