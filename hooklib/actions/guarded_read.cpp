#include "hooklib/actions/guarded_read.h"

namespace vm::actions {

namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Every page of the range committed, readable, and neither a guard nor a
// no-access page.
bool Readable(const void* address, std::size_t size) noexcept {
  const auto start = reinterpret_cast<std::uintptr_t>(address);
  if (size > UINTPTR_MAX - start) return false;
  const std::uintptr_t end = start + size;
  std::uintptr_t at = start;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) != sizeof info)
      return false;
    if (info.State != MEM_COMMIT || (info.Protect & kReadable) == 0 ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
      return false;
    const std::uintptr_t next =
        reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= at) return false;
    at = next;
  }
  return true;
}

}  // namespace

bool GuardedCopy(const void* address, void* out, std::size_t size) noexcept {
  if (address == nullptr || out == nullptr) return false;
  if (size == 0) return true;
  // The pages are checked first (Wine's ReadProcessMemory on its own process
  // copies even from reserved pages); the copy itself then goes through
  // ReadProcessMemory, which on Windows fails cleanly instead of faulting if
  // another thread frees the memory between the check and the copy.
  if (!Readable(address, size)) return false;
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
