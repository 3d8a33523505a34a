#include "hooklib/actions/guarded_read.h"

namespace vm::actions {

bool GuardedCopy(const void* address, void* out, std::size_t size) noexcept {
  if (address == nullptr || out == nullptr) return false;
  if (size == 0) return true;
  // ReadProcessMemory on our own process reports unreadable pages as a
  // failure instead of raising an access violation, and does not trip guard
  // pages of thread stacks.
  SIZE_T copied = 0;
  return ReadProcessMemory(GetCurrentProcess(), address, out, size, &copied) && copied == size;
}

std::optional<std::uintptr_t> GuardedWord(const void* address) noexcept {
  std::uintptr_t word = 0;
  if (!GuardedCopy(address, &word, sizeof word)) return std::nullopt;
  return word;
}

std::optional<std::uintptr_t> GuardedWordAt(std::uintptr_t base, std::size_t offset) noexcept {
  if (base == 0 || offset > UINTPTR_MAX - base) return std::nullopt;
  return GuardedWord(reinterpret_cast<const void*>(base + offset));
}

}  // namespace vm::actions
