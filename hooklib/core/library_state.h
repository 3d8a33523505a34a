#pragma once
// What every part of the hook library needs from its core: the process-wide
// call depth (counted in memory that outlives an unload of the library), the
// switch that lets the per-thread hook trampolines call into this copy of the
// library, and the module handle.
#include <windows.h>

namespace vm::hooklib {

struct ProcessStorageState;

// Raised on entry to every hook procedure, window-procedure stub and library
// thread; the library is only let go while it is 0.
void EnterLibraryCall() noexcept;
void LeaveLibraryCall() noexcept;
long CurrentCallDepth() noexcept;

class LibraryCallScope {
 public:
  LibraryCallScope() noexcept { EnterLibraryCall(); }
  ~LibraryCallScope() { LeaveLibraryCall(); }
  LibraryCallScope(const LibraryCallScope&) = delete;
  LibraryCallScope& operator=(const LibraryCallScope&) = delete;
};

// Unloading: the trampolines pass straight to the next hook; reloading: they
// call this copy of the library again. Switching on has no effect while the
// trampolines are not built.
void SetTrampolinesActive(bool active) noexcept;
bool TrampolinesActive() noexcept;

// The library's own module (the process's main module when linked statically
// into a test program).
HMODULE LibraryModule() noexcept;

// Core only: points the counter and the trampoline switch at the process's
// storage block (called once when a library copy attaches to the process).
void BindLibraryState(const ProcessStorageState& state) noexcept;
// The counter block itself (8 bytes), for the stub dispatcher.
volatile LONG64* CallDepthCounterBlock() noexcept;

}  // namespace vm::hooklib
