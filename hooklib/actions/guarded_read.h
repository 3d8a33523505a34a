#pragma once
// Copies out of memory this process does not vouch for: words inside another
// module's private window data, which on a window of an unexpected kind can
// be anything. The copy fails cleanly on an unmapped, reserved, guard or
// no-access page instead of faulting inside the host.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vm::actions {

// True and `size` bytes copied to `out` when all of [address, address + size)
// could be read; false (and `out` untouched beyond what was copied) otherwise.
bool GuardedCopy(const void* address, void* out, std::size_t size) noexcept;

// One pointer-sized word at `address`.
std::optional<std::uintptr_t> GuardedWord(const void* address) noexcept;

// The word at `base` + `offset`, with the addition checked for overflow.
std::optional<std::uintptr_t> GuardedWordAt(std::uintptr_t base, std::size_t offset) noexcept;

}  // namespace vm::actions
