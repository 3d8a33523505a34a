#include "hooklib/core/process_storage.h"

#include "common/unique_handle.h"

namespace vm::hooklib {
namespace {

constexpr DWORD kWritable =
    PAGE_READWRITE | PAGE_EXECUTE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kExecutable =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// The handle of the mapping this process created. Deliberately never closed:
// the block must live as long as the process, beyond this library copy.
HANDLE g_storage_mapping = nullptr;

std::wstring OwnMappingName() { return storage::MappingName(GetCurrentProcessId()); }

bool IsWritableMemory(const void* address, std::size_t size) {
  MEMORY_BASIC_INFORMATION info{};
  if (address == nullptr || VirtualQuery(address, &info, sizeof(info)) != sizeof(info))
    return false;
  if (info.State != MEM_COMMIT || (info.Protect & kWritable) == 0 || (info.Protect & PAGE_GUARD)) {
    return false;
  }
  const auto end = static_cast<const std::uint8_t*>(info.BaseAddress) + info.RegionSize;
  return static_cast<const std::uint8_t*>(address) + size <= end;
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

ProcessStorageState AttachProcessStorage() {
  ProcessStorageState state;
  const std::wstring name = OwnMappingName();

  // A later load: take the blocks of the first one.
  if (UniqueHandle existing{OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str())}) {
    UniqueMapView view{MapViewOfFile(existing.get(), FILE_MAP_ALL_ACCESS, 0, 0, storage::kSize)};
    if (view) {
      const auto* block = static_cast<const storage::StorageBlock*>(view.get());
      auto* counter = reinterpret_cast<volatile LONG64*>(block->counter);
      auto* trampolines = reinterpret_cast<storage::TrampolineBlock*>(block->trampoline_block);
      auto* page = reinterpret_cast<std::uint8_t*>(block->trampoline_page);
      if (IsWritableMemory(const_cast<LONG64*>(counter), sizeof(LONG64)) &&
          IsWritableMemory(trampolines, sizeof(storage::TrampolineBlock)) &&
          reinterpret_cast<std::uintptr_t>(page) % storage::kTrampolinePageSize == 0 &&
          IsCommittedMemory(page, storage::kTrampolinePageSize, true)) {
        state.counter = counter;
        state.trampoline_block = trampolines;
        state.trampoline_page = page;
        state.published = true;
        return state;
      }
    }
    // Present but unusable: work with private blocks and leave it alone.
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
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      storage::kSize, name.c_str());
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
  state.published = true;
  return state;
}

bool ReadStubPoolHeads(std::uint64_t& pages, std::uint64_t& free_list) {
  UniqueHandle mapping{OpenFileMappingW(FILE_MAP_READ, FALSE, OwnMappingName().c_str())};
  if (!mapping) return false;
  UniqueMapView view{MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, storage::kSize)};
  if (!view) return false;
  const auto* block = static_cast<const storage::StorageBlock*>(view.get());
  pages = block->stub_pages;
  free_list = block->stub_free_list;
  return true;
}

void WriteStubPoolHeads(std::uint64_t pages, std::uint64_t free_list) {
  UniqueHandle mapping{OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, OwnMappingName().c_str())};
  if (!mapping) return;
  UniqueMapView view{MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, storage::kSize)};
  if (!view) return;
  auto* block = static_cast<storage::StorageBlock*>(view.get());
  block->stub_pages = pages;
  block->stub_free_list = free_list;
}

}  // namespace vm::hooklib
