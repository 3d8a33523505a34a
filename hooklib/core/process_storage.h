#pragma once
// The per-process storage block (see storage_layout.h): created by the first
// copy of the library loaded into a process and found again by every later
// copy, so code left behind in the process (trampolines, stubs, the call
// counter) stays consistent across unload and reload.
#include <windows.h>

#include <cstdint>

#include "hooklib/core/storage_layout.h"

namespace vm::hooklib {

struct ProcessStorageState {
  volatile LONG64* counter = nullptr;                    // 8 bytes, never freed
  storage::TrampolineBlock* trampoline_block = nullptr;  // 48 bytes, never freed
  std::uint8_t* trampoline_page = nullptr;               // 4096 executable bytes, never freed
  bool created = false;                                  // this copy created the mapping
  bool published = false;                                // the addresses are in the named mapping
};

// Opens the process's mapping and takes the three addresses from it, or
// allocates the blocks and creates the mapping. Addresses found in an existing
// mapping are checked first: the name is visible to every process of the
// session, so the counter and trampoline block must be private heap memory of
// this process and the page a page of its own holding this library's
// trampolines for that block. A block that is not ours is not used (the
// library then works with private blocks and leaves the mapping alone).
// Runs while the loader calls the library: kernel32 only, no allocation.
ProcessStorageState AttachProcessStorage() noexcept;

// Offsets 24 and 32 (stub page list and free list). Both do nothing and the
// read answers false when the mapping does not exist, and so do both when the
// mapping under our name is not ours.
bool ReadStubPoolHeads(std::uint64_t& pages, std::uint64_t& free_list) noexcept;
void WriteStubPoolHeads(std::uint64_t pages, std::uint64_t free_list) noexcept;

// Memory checks used on addresses that come from the shared block.
bool IsCommittedMemory(const void* address, std::size_t size, bool need_execute);

}  // namespace vm::hooklib
