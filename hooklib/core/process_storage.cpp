#include "hooklib/core/process_storage.h"

#include <cstring>

#include "common/unique_handle.h"
#include "hooklib/core/machine_code.h"

namespace vm::hooklib {
namespace {

constexpr DWORD kWritable =
    PAGE_READWRITE | PAGE_EXECUTE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kExecutable =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// The handle of the mapping this process created. Deliberately never closed:
// the block must live as long as the process, beyond this library copy.
HANDLE g_storage_mapping = nullptr;
// The named block is ours (made or checked by this copy): the stub pool may
// read and write its offsets 24 and 32. A block under our name that did not
// pass the checks is left alone altogether.
bool g_storage_trusted = false;

void OwnMappingName(storage::MappingNameBuffer& name) noexcept {
  storage::MappingName(GetCurrentProcessId(), name);
}

bool QueryRegion(const void* address, MEMORY_BASIC_INFORMATION& info) noexcept {
  return address != nullptr && VirtualQuery(address, &info, sizeof(info)) == sizeof(info) &&
         info.State == MEM_COMMIT;
}

bool InsideRegion(const MEMORY_BASIC_INFORMATION& info, const void* address,
                  std::size_t size) noexcept {
  const auto end = static_cast<const std::uint8_t*>(info.BaseAddress) + info.RegionSize;
  return static_cast<const std::uint8_t*>(address) + size <= end;
}

// Heap memory of this process (GlobalAlloc): private, committed, writable,
// aligned for interlocked access; not part of a module image or a mapping.
bool IsPrivateData(const void* address, std::size_t size) noexcept {
  MEMORY_BASIC_INFORMATION info{};
  if (reinterpret_cast<std::uintptr_t>(address) % 8 != 0 || !QueryRegion(address, info)) {
    return false;
  }
  return info.Type == MEM_PRIVATE && (info.Protect & kWritable) != 0 &&
         (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 && InsideRegion(info, address, size);
}

bool Overlap(const void* a, std::size_t a_size, const void* b, std::size_t b_size) noexcept {
  const auto x = reinterpret_cast<std::uintptr_t>(a);
  const auto y = reinterpret_cast<std::uintptr_t>(b);
  return x < y + b_size && y < x + a_size;
}

// A trampoline page made by a copy of this library: a page of its own
// (VirtualAlloc), executable, holding the two trampolines bound to the block
// that names it. Anything else under our mapping name (a stale block, or one
// another process wrote) would make foreign memory our hook procedures.
bool IsOurTrampolinePage(const std::uint8_t* page, const storage::TrampolineBlock* block) noexcept {
  MEMORY_BASIC_INFORMATION info{};
  if (reinterpret_cast<std::uintptr_t>(page) % storage::kTrampolinePageSize != 0 ||
      !QueryRegion(page, info)) {
    return false;
  }
  if (info.Type != MEM_PRIVATE || info.AllocationBase != page ||
      (info.Protect & kExecutable) == 0 || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
      !InsideRegion(info, page, storage::kTrampolinePageSize)) {
    return false;
  }
  if (block->trampoline0 != reinterpret_cast<std::uint64_t>(page) ||
      block->trampoline1 != reinterpret_cast<std::uint64_t>(page + storage::kTrampolineStride)) {
    return false;
  }
  const auto block_address = reinterpret_cast<std::uint64_t>(block);
  for (int i = 0; i < 2; ++i) {
    const auto code = code::TrampolineCode(block_address, i);
    if (std::memcmp(page + i * storage::kTrampolineStride, code.data(), code.size()) != 0) {
      return false;
    }
  }
  return true;
}

// The checks on the three addresses of an existing block.
bool LooksLikeOurBlock(volatile LONG64* counter, storage::TrampolineBlock* trampolines,
                       std::uint8_t* page) noexcept {
  auto* count = const_cast<LONG64*>(counter);
  if (!IsPrivateData(count, sizeof(LONG64)) ||
      !IsPrivateData(trampolines, sizeof(storage::TrampolineBlock))) {
    return false;
  }
  if (Overlap(count, sizeof(LONG64), trampolines, sizeof(storage::TrampolineBlock)) ||
      Overlap(count, sizeof(LONG64), page, storage::kTrampolinePageSize) ||
      Overlap(trampolines, sizeof(storage::TrampolineBlock), page, storage::kTrampolinePageSize)) {
    return false;
  }
  // A call depth, never below zero and far below a million.
  const LONG64 depth = *counter;
  if (depth < 0 || depth > (1 << 20)) return false;
  return IsOurTrampolinePage(page, trampolines);
}

}  // namespace

bool IsCommittedMemory(const void* address, std::size_t size, bool need_execute) {
  MEMORY_BASIC_INFORMATION info{};
  if (address == nullptr || VirtualQuery(address, &info, sizeof(info)) != sizeof(info))
    return false;
  if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS))) return false;
  if (need_execute && (info.Protect & kExecutable) == 0) return false;
  const auto end = static_cast<const std::uint8_t*>(info.BaseAddress) + info.RegionSize;
  return static_cast<const std::uint8_t*>(address) + size <= end;
}

ProcessStorageState AttachProcessStorage() noexcept {
  ProcessStorageState state;
  storage::MappingNameBuffer name;
  OwnMappingName(name);

  // A later load: take the blocks of the first one, once they prove ours.
  if (UniqueHandle existing{OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name)}) {
    UniqueMapView view{MapViewOfFile(existing.get(), FILE_MAP_ALL_ACCESS, 0, 0, storage::kSize)};
    if (view) {
      const auto* block = static_cast<const storage::StorageBlock*>(view.get());
      auto* counter = reinterpret_cast<volatile LONG64*>(block->counter);
      auto* trampolines = reinterpret_cast<storage::TrampolineBlock*>(block->trampoline_block);
      auto* page = reinterpret_cast<std::uint8_t*>(block->trampoline_page);
      if (LooksLikeOurBlock(counter, trampolines, page)) {
        state.counter = counter;
        state.trampoline_block = trampolines;
        state.trampoline_page = page;
        state.published = true;
        g_storage_trusted = true;
        return state;
      }
    }
    // Present but not ours: work with private blocks and leave it alone.
  }

  auto* counter = static_cast<volatile LONG64*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 8));
  auto* trampolines = static_cast<storage::TrampolineBlock*>(
      GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, sizeof(storage::TrampolineBlock)));
  auto* page = static_cast<std::uint8_t*>(VirtualAlloc(
      nullptr, storage::kTrampolinePageSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (counter == nullptr || trampolines == nullptr || page == nullptr) {
    // Without the blocks nothing can outlive this copy; the library then runs
    // with its own counter and without trampolines.
    if (counter) GlobalFree(const_cast<LONG64*>(counter));
    if (trampolines) GlobalFree(trampolines);
    if (page) VirtualFree(page, 0, MEM_RELEASE);
    return state;
  }
  state.counter = counter;
  state.trampoline_block = trampolines;
  state.trampoline_page = page;
  state.created = true;

  if (g_storage_mapping != nullptr) return state;  // ours exists but was not usable: stay private
  HANDLE mapping =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, storage::kSize, name);
  if (mapping == nullptr) return state;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {  // someone else's block under our name
    CloseHandle(mapping);
    return state;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, storage::kSize);
  if (view == nullptr) {
    CloseHandle(mapping);
    return state;
  }
  auto* block = static_cast<storage::StorageBlock*>(view);
  block->counter = reinterpret_cast<std::uint64_t>(counter);
  block->trampoline_block = reinterpret_cast<std::uint64_t>(trampolines);
  block->trampoline_page = reinterpret_cast<std::uint64_t>(page);
  block->stub_pages = 0;
  block->stub_free_list = 0;
  UnmapViewOfFile(view);
  g_storage_mapping = mapping;
  g_storage_trusted = true;
  state.published = true;
  return state;
}

bool ReadStubPoolHeads(std::uint64_t& pages, std::uint64_t& free_list) noexcept {
  if (!g_storage_trusted) return false;
  storage::MappingNameBuffer name;
  OwnMappingName(name);
  UniqueHandle mapping{OpenFileMappingW(FILE_MAP_READ, FALSE, name)};
  if (!mapping) return false;
  UniqueMapView view{MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, storage::kSize)};
  if (!view) return false;
  const auto* block = static_cast<const storage::StorageBlock*>(view.get());
  pages = block->stub_pages;
  free_list = block->stub_free_list;
  return true;
}

void WriteStubPoolHeads(std::uint64_t pages, std::uint64_t free_list) noexcept {
  if (!g_storage_trusted) return;
  storage::MappingNameBuffer name;
  OwnMappingName(name);
  UniqueHandle mapping{OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name)};
  if (!mapping) return;
  UniqueMapView view{MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, storage::kSize)};
  if (!view) return;
  auto* block = static_cast<storage::StorageBlock*>(view.get());
  block->stub_pages = pages;
  block->stub_free_list = free_list;
}

}  // namespace vm::hooklib
