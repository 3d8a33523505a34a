#include "hooklib/core/library_state.h"

#include <atomic>

#include "hooklib/core/process_storage.h"

namespace vm::hooklib {
namespace {

// Used until (or instead of, when it cannot be made) the storage block.
volatile LONG64 g_private_counter = 0;
std::atomic<volatile LONG64*> g_counter{&g_private_counter};
std::atomic<storage::TrampolineBlock*> g_trampoline_block{nullptr};

// The hooks use 32-bit interlocked operations on the low half of the 8-byte
// block and the stub dispatcher 64-bit ones on the whole block; both agree
// because the count never goes below zero.
volatile LONG* LowHalf() noexcept {
  return reinterpret_cast<volatile LONG*>(g_counter.load(std::memory_order_acquire));
}

}  // namespace

void EnterLibraryCall() noexcept { InterlockedIncrement(LowHalf()); }
void LeaveLibraryCall() noexcept { InterlockedDecrement(LowHalf()); }
long CurrentCallDepth() noexcept { return InterlockedCompareExchange(LowHalf(), 0, 0); }

void SetTrampolinesActive(bool active) noexcept {
  storage::TrampolineBlock* block = g_trampoline_block.load(std::memory_order_acquire);
  if (block == nullptr) return;
  if (active &&
      (block->call_wnd_proc == 0 || block->call_wnd_proc_ret == 0 || block->call_next_hook == 0)) {
    return;  // not built: they keep passing calls on
  }
  std::atomic_thread_fence(std::memory_order_release);
  block->active = active ? 1 : 0;
}

bool TrampolinesActive() noexcept {
  storage::TrampolineBlock* block = g_trampoline_block.load(std::memory_order_acquire);
  return block != nullptr && block->active != 0;
}

HMODULE LibraryModule() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&LibraryModule), &module);
  return module;
}

void BindLibraryState(const ProcessStorageState& state) noexcept {
  if (state.counter != nullptr) g_counter.store(state.counter, std::memory_order_release);
  g_trampoline_block.store(state.trampoline_block, std::memory_order_release);
}

volatile LONG64* CallDepthCounterBlock() noexcept {
  return g_counter.load(std::memory_order_acquire);
}

}  // namespace vm::hooklib
