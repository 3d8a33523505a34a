#include "hooklib/core/library_state.h"

#include <atomic>

namespace vm::hooklib {
namespace {

// Until the process-local storage block is in place these live in the
// library's own data; the storage block takes them over once it exists.
std::atomic<long> g_call_depth{0};
std::atomic<bool> g_trampolines_active{false};

}  // namespace

void EnterLibraryCall() noexcept { g_call_depth.fetch_add(1, std::memory_order_acq_rel); }
void LeaveLibraryCall() noexcept { g_call_depth.fetch_sub(1, std::memory_order_acq_rel); }
long CurrentCallDepth() noexcept { return g_call_depth.load(std::memory_order_acquire); }

void SetTrampolinesActive(bool active) noexcept { g_trampolines_active.store(active); }
bool TrampolinesActive() noexcept { return g_trampolines_active.load(); }

HMODULE LibraryModule() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LibraryModule), &module);
  return module;
}

}  // namespace vm::hooklib
