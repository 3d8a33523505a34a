#include "hooklib/core/hook_frame.h"

#include <atomic>

#include "hooklib/core/library_state.h"

namespace vm::hooklib {
namespace {

using SetContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
std::atomic<SetContextFn> g_set_context{nullptr};
std::atomic<DPI_AWARENESS_CONTEXT> g_context{nullptr};

}  // namespace

void InitDpiSwitch() noexcept {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto set =
      user32
          ? reinterpret_cast<SetContextFn>(GetProcAddress(user32, "SetThreadDpiAwarenessContext"))
          : nullptr;
  if (set == nullptr) return;
  for (DPI_AWARENESS_CONTEXT candidate :
       {DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE}) {
    DPI_AWARENESS_CONTEXT previous = set(candidate);
    if (previous != nullptr) {
      set(previous);
      g_context.store(candidate);
      g_set_context.store(set);
      return;
    }
  }
}

HookFrame::HookFrame(DpiSwitch when) noexcept : last_error_(GetLastError()) {
  EnterLibraryCall();
  if (when == DpiSwitch::Now) EngageDpi();
}

void HookFrame::EngageDpi() noexcept {
  if (engaged_) return;
  engaged_ = true;
  if (SetContextFn set = g_set_context.load(std::memory_order_relaxed)) {
    previous_dpi_ = set(g_context.load(std::memory_order_relaxed));
  }
}

HookFrame::~HookFrame() {
  if (previous_dpi_ != nullptr) {
    if (SetContextFn set = g_set_context.load(std::memory_order_relaxed)) set(previous_dpi_);
  }
  LeaveLibraryCall();
}

}  // namespace vm::hooklib
