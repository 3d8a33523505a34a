#pragma once
// The two per-thread hook trampolines: hook procedures in a page that
// outlives the library, which call this copy's WH_CALLWNDPROC and
// WH_CALLWNDPROCRET procedures while the library serves them and pass every
// call straight to CallNextHookEx otherwise.
#include <windows.h>

#include <cstdint>

#include "hooklib/core/storage_layout.h"

namespace vm::hooklib {

// Writes the trampoline code (unless an earlier copy already did), points
// them at the two procedures and switches them on. Returns false (and leaves
// them passing calls on) when the block or page is missing or CallNextHookEx
// cannot be found.
bool BuildTrampolines(storage::TrampolineBlock* block, std::uint8_t* page, HOOKPROC call_wnd_proc,
                      HOOKPROC call_wnd_proc_ret) noexcept;

// Before this copy's code goes away: the trampolines pass calls on and hold
// no address inside the library any more.
void RetireTrampolines(storage::TrampolineBlock* block) noexcept;

// Trampoline 0 (WH_CALLWNDPROC) or 1 (WH_CALLWNDPROCRET); null when there are none.
HOOKPROC TrampolineAddress(const storage::TrampolineBlock* block, int index) noexcept;

}  // namespace vm::hooklib
