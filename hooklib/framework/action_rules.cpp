#include "hooklib/framework/action_rules.h"

#include <string_view>

namespace vm::framework {
namespace {

bool ReadField(const std::vector<std::uint8_t>& block, std::size_t& at, std::string& out) {
  if (block.size() - at < 4) return false;
  const std::uint32_t length = std::uint32_t{block[at]} | (std::uint32_t{block[at + 1]} << 8) |
                               (std::uint32_t{block[at + 2]} << 16) |
                               (std::uint32_t{block[at + 3]} << 24);
  at += 4;
  if (block.size() - at < length) return false;
  out.assign(reinterpret_cast<const char*>(block.data() + at), length);
  at += length;
  return true;
}

}  // namespace

std::vector<LocalizedPair> ParseLocalizedPairs(const std::vector<std::uint8_t>& block) {
  std::vector<LocalizedPair> pairs;
  std::size_t at = 0;
  for (;;) {
    LocalizedPair pair;
    if (!ReadField(block, at, pair.first) || !ReadField(block, at, pair.second)) break;
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

std::wstring FailureDetail(std::wstring_view message) {
  std::wstring out;
  out.reserve(message.size() + 2);
  out.push_back(L'{');
  for (wchar_t c : message) out.push_back(c == L';' ? L'|' : c);
  out.push_back(L'}');
  return out;
}

}  // namespace vm::framework
