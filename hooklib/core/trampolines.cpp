#include "hooklib/core/trampolines.h"

#include <atomic>
#include <cstring>

#include "hooklib/core/machine_code.h"

namespace vm::hooklib {

bool BuildTrampolines(storage::TrampolineBlock* block, std::uint8_t* page, HOOKPROC call_wnd_proc,
                      HOOKPROC call_wnd_proc_ret) noexcept {
  if (block == nullptr || page == nullptr) return false;
  DWORD old_protect = 0;
  if (!VirtualProtect(page, storage::kTrampolinePageSize, PAGE_EXECUTE_READWRITE, &old_protect)) {
    return false;
  }
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto call_next =
      reinterpret_cast<std::uint64_t>(user32 ? GetProcAddress(user32, "CallNextHookEx") : nullptr);
  // An earlier copy built them and left them on: the code is in place (the
  // storage block was only taken after checking it); the address they pass
  // calls on to is set again all the same.
  bool built = block->active != 0 && call_next != 0;
  if (built) {
    if (block->call_next_hook != call_next) block->call_next_hook = call_next;
  } else {
    block->active = 0;
    block->call_next_hook = call_next;
    block->trampoline0 = reinterpret_cast<std::uint64_t>(page);
    block->trampoline1 = reinterpret_cast<std::uint64_t>(page + storage::kTrampolineStride);
    const auto block_address = reinterpret_cast<std::uint64_t>(block);
    for (int i = 0; i < 2; ++i) {
      const auto code = code::TrampolineCode(block_address, i);
      std::uint8_t* at = page + i * storage::kTrampolineStride;
      // A reload finds the same code in place; threads may be running it, so
      // identical bytes are left untouched.
      if (std::memcmp(at, code.data(), code.size()) != 0) std::memcpy(at, code.data(), code.size());
    }
    FlushInstructionCache(GetCurrentProcess(), page, 2 * storage::kTrampolineStride);
    built = call_next != 0;
  }
  if (built) {
    block->call_wnd_proc = reinterpret_cast<std::uint64_t>(call_wnd_proc);
    block->call_wnd_proc_ret = reinterpret_cast<std::uint64_t>(call_wnd_proc_ret);
    std::atomic_thread_fence(std::memory_order_release);
    block->active = 1;
  } else {
    block->active = 0;
    block->call_wnd_proc = 0;
    block->call_wnd_proc_ret = 0;
  }
  VirtualProtect(page, storage::kTrampolinePageSize, PAGE_EXECUTE_READ, &old_protect);
  return built;
}

void RetireTrampolines(storage::TrampolineBlock* block) noexcept {
  if (block == nullptr) return;
  block->active = 0;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  block->call_wnd_proc = 0;
  block->call_wnd_proc_ret = 0;
}

HOOKPROC TrampolineAddress(const storage::TrampolineBlock* block, int index) noexcept {
  if (block == nullptr) return nullptr;
  const std::uint64_t address = index == 0 ? block->trampoline0 : block->trampoline1;
  return reinterpret_cast<HOOKPROC>(address);
}

}  // namespace vm::hooklib
