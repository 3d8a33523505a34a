#include "hooklib/actions/import_patch.h"

namespace vm::actions {
namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Every page of [start, start + size) committed, readable and not a guard page.
bool RangeReadable(const std::uint8_t* start, std::size_t size) noexcept {
  const std::uint8_t* at = start;
  const std::uint8_t* end = start + size;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(at, &info, sizeof info) != sizeof info) return false;
    if (info.State != MEM_COMMIT || (info.Protect & kReadable) == 0 ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
      return false;
    const auto* next = static_cast<const std::uint8_t*>(info.BaseAddress) + info.RegionSize;
    if (next <= at) return false;
    at = next;
  }
  return true;
}

std::optional<std::uint8_t**> Slot(HMODULE module, void* holding) noexcept {
  const auto image = ViewOfModule(module);
  if (!image) return std::nullopt;
  const auto rva = FindSlotHolding(*image, reinterpret_cast<std::uintptr_t>(holding));
  // Address table entries are pointer-aligned in every real image; anything
  // else is not a slot we would write.
  if (!rva || *rva % sizeof(void*) != 0) return std::nullopt;
  return reinterpret_cast<std::uint8_t**>(reinterpret_cast<std::uintptr_t>(module) + *rva);
}

}  // namespace

std::optional<ImageView> ViewOfModule(HMODULE module) noexcept {
  const auto* base = reinterpret_cast<const std::uint8_t*>(module);
  if (base == nullptr) return std::nullopt;
  // The headers lie in the image's first page.
  constexpr std::size_t kHeaderPage = 4096;
  if (!RangeReadable(base, kHeaderPage)) return std::nullopt;
  const auto size = ImageSizeFromHeaders(base, kHeaderPage);
  if (!size || !RangeReadable(base, *size)) return std::nullopt;
  return ImageView{base, *size};
}

bool WriteSlot(void** slot, void* value) noexcept {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof(void*), PAGE_EXECUTE_READWRITE, &old)) return false;
  // Other threads may call through the slot meanwhile: one aligned store.
  InterlockedExchangePointer(slot, value);
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof(void*), old, &ignored);
  return true;
}

bool PatchImport(HMODULE module, void* real, void* replacement) noexcept {
  if (real == nullptr || replacement == nullptr) return false;
  const auto slot = Slot(module, real);
  return slot && WriteSlot(reinterpret_cast<void**>(*slot), replacement);
}

bool UnpatchImport(HMODULE module, void* real, void* replacement) noexcept {
  if (real == nullptr || replacement == nullptr) return false;
  const auto slot = Slot(module, replacement);
  return slot && WriteSlot(reinterpret_cast<void**>(*slot), real);
}

}  // namespace vm::actions
