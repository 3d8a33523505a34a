#pragma once
// Layout of the per-process storage block: a 40-byte named page-file mapping
// that outlives every copy of the hook library loaded into the process, so a
// later copy finds the call counter, the hook trampolines and the window-
// procedure stub pages of the earlier one. Tests and fixtures read it too.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "common/names.h"

namespace vm::hooklib::storage {

inline constexpr std::size_t kSize = 40;
inline constexpr std::size_t kCounterOffset = 0;          // -> 8-byte call counter
inline constexpr std::size_t kTrampolineBlockOffset = 8;  // -> TrampolineBlock
inline constexpr std::size_t kTrampolinePageOffset = 16;  // -> 4096-byte executable page
inline constexpr std::size_t kStubPagesOffset = 24;       // head of the stub page list
inline constexpr std::size_t kStubFreeListOffset = 32;    // head of the free stub list

inline constexpr std::size_t kTrampolinePageSize = 4096;
inline constexpr std::size_t kTrampolineStride = 64;  // trampoline 1 starts 64 bytes in

struct StorageBlock {
  std::uint64_t counter;
  std::uint64_t trampoline_block;
  std::uint64_t trampoline_page;
  std::uint64_t stub_pages;
  std::uint64_t stub_free_list;
};
static_assert(sizeof(StorageBlock) == kSize);

// What the two trampolines read on every call.
struct TrampolineBlock {
  volatile std::uint8_t active;  // non-zero while a loaded library copy serves them
  std::uint8_t reserved[7];
  std::uint64_t call_next_hook;     // CallNextHookEx
  std::uint64_t call_wnd_proc;      // the library's WH_CALLWNDPROC procedure, or 0
  std::uint64_t call_wnd_proc_ret;  // the library's WH_CALLWNDPROCRET procedure, or 0
  std::uint64_t trampoline0;        // = page
  std::uint64_t trampoline1;        // = page + 64
};
static_assert(sizeof(TrampolineBlock) == 48);
static_assert(offsetof(TrampolineBlock, call_next_hook) == 8);
static_assert(offsetof(TrampolineBlock, call_wnd_proc) == 16);
static_assert(offsetof(TrampolineBlock, call_wnd_proc_ret) == 24);
static_assert(offsetof(TrampolineBlock, trampoline0) == 32);
static_assert(offsetof(TrampolineBlock, trampoline1) == 40);

// "Local\{...}_EALocalStorageV8147_" + the process id as 8 upper-case hex
// digits, written into a fixed buffer: the library builds it while the
// loader calls it, where nothing may allocate or throw.
inline constexpr std::size_t kMappingNameLength = std::size(names::kLocalStoragePrefix) - 1 + 8;
using MappingNameBuffer = wchar_t[kMappingNameLength + 1];

inline void MappingName(std::uint32_t process_id, MappingNameBuffer& out) noexcept {
  constexpr std::size_t prefix = std::size(names::kLocalStoragePrefix) - 1;
  for (std::size_t i = 0; i < prefix; ++i) out[i] = names::kLocalStoragePrefix[i];
  constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  for (std::size_t i = 0; i < 8; ++i) out[prefix + i] = kHex[(process_id >> (28 - 4 * i)) & 0xF];
  out[kMappingNameLength] = L'\0';
}

// The same for tests and fixtures, which may allocate.
inline std::wstring MappingName(std::uint32_t process_id) {
  MappingNameBuffer name;
  MappingName(process_id, name);
  return std::wstring(name);
}

}  // namespace vm::hooklib::storage
