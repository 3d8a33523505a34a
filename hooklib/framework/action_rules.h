#pragma once
// The parts of actions that need no window: the localized texts block of an
// action's parameters, and the text a failed operation adds to its log
// line. Plain C++ without windows.h, so it is unit tested natively.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vm::framework {

// Byte pairs (key, value) of a localized texts block: each field is a 32-bit
// little-endian length followed by that many bytes. Reading stops at the
// first field that does not fit, keeping the pairs read before it. The
// block comes from the rule table, so a length is never trusted beyond the
// bytes that are there.
using LocalizedPair = std::pair<std::string, std::string>;
std::vector<LocalizedPair> ParseLocalizedPairs(const std::vector<std::uint8_t>& block);

// "{message}" with every ";" of the message made "|", so that a failure
// text never adds fields to its log line.
std::wstring FailureDetail(std::wstring_view message);

// Position of the operation after the one at `index` in a list of `count`,
// going round to the first after the last; -1 when `index` is not in it.
constexpr int NextOperationPosition(int index, int count) noexcept {
  if (index < 0 || index >= count) return -1;
  return index + 1 < count ? index + 1 : 0;
}

}  // namespace vm::framework
