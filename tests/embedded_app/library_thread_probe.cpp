// A library that starts one library thread on request. The thread waits for
// an event the test sets, so the test decides how long the library must stay.
#include <windows.h>

#include "common/unique_handle.h"
#include "hooklib/app/library_thread.h"
#include "hooklib/core/library_state.h"

namespace {

DWORD WINAPI ProbeThread(void* release_event) {
  WaitForSingleObject(static_cast<HANDLE>(release_event), INFINITE);
  return 7;
}

}  // namespace

// Starts the thread; *thread receives its handle (the caller's) when thread
// is not null, else the thread closes its handle itself.
extern "C" BOOL WINAPI StartProbeThread(HANDLE release_event, HANDLE* thread) {
  vm::UniqueHandle handle;
  if (!vm::hooklib::StartLibraryThread(&ProbeThread, release_event, thread ? &handle : nullptr)) {
    return FALSE;
  }
  if (thread != nullptr) *thread = handle.release();
  return TRUE;
}

extern "C" LONG WINAPI ProbeCallDepth() { return vm::hooklib::CurrentCallDepth(); }
