#pragma once
// Threads the hook library starts for itself. Each one pins the library
// module and raises the call depth while it runs, so that the library cannot
// be unloaded under it, and ends with FreeLibraryAndExitThread so that the
// last reference can go with the thread's own exit.
#include <windows.h>

#include "common/unique_handle.h"

namespace vm::hooklib {

// Starts proc(arg) on a new library thread (default stack size). When
// handle is given it receives the thread handle, owned by the caller;
// otherwise the thread closes its handle itself. False, with nothing left
// pinned or raised, when the thread could not be started.
bool StartLibraryThread(LPTHREAD_START_ROUTINE proc, void* arg, UniqueHandle* handle = nullptr,
                        DWORD* thread_id = nullptr) noexcept;

// Whether library threads run per-monitor DPI aware (version 2). Only Office
// processes on Windows 10 build 14393 or later need it: their windows are
// per-monitor aware when Office runs so, or always in newer Outlook builds.
struct LibraryThreadDpiFacts {
  bool windows10_or_later = false;
  unsigned windows_build = 0;
  bool office_loaded = false;              // mso.dll is loaded
  bool is_outlook = false;                 // the process is outlook.exe
  unsigned exe_major = 0;                  // the host executable's file version: major
  unsigned exe_build = 0;                  // and its third field
  bool process_per_monitor_aware = false;  // GetProcessDpiAwareness = PROCESS_PER_MONITOR_DPI_AWARE
};
bool LibraryThreadsPerMonitorAware(const LibraryThreadDpiFacts& facts) noexcept;

// The two steps of a library thread for a thread the caller starts itself
// (the messenger client's, which must stay suspended until it is resumed):
// one more reference on the library module, to be given back with
// FreeLibraryAndExitThread (null when it cannot be taken), and the DPI rule
// above applied to the calling thread.
HMODULE PinLibraryModule() noexcept;
void ApplyLibraryThreadDpiAwareness() noexcept;

}  // namespace vm::hooklib
