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
// mapping are checked against the process's memory first: the name is
// visible to every process of the session, and a block that does not look
// like ours is not used (the library then works with private blocks).
ProcessStorageState AttachProcessStorage();

// Offsets 24 and 32 (stub page list and free list). Both do nothing and the
// read answers false when the mapping does not exist.
bool ReadStubPoolHeads(std::uint64_t& pages, std::uint64_t& free_list);
void WriteStubPoolHeads(std::uint64_t pages, std::uint64_t free_list);

// Memory checks used on addresses that come from the shared block.
bool IsCommittedMemory(const void* address, std::size_t size, bool need_execute);

}  // namespace vm::hooklib
