// Entry point and exports of vfoemb64.dll. The loader calls DllMain with its
// lock held, inside someone else's process: only kernel32 work happens here
// (the storage block, the stub pool, the trampolines); the rest of the
// start-up runs on the first hook call. No process-wide handler of any kind
// (exception filters, CRT handlers, locale) is installed in the host.
#include <windows.h>

#include "hooklib/core/library.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      vm::hooklib::AttachLibrary();
      break;
    case DLL_THREAD_DETACH:
      vm::hooklib::OnThreadDetach();
      break;
    case DLL_PROCESS_DETACH:
      vm::hooklib::DetachLibrary(reserved != nullptr);
      break;
    default:
      break;
  }
  return TRUE;
}

extern "C" BOOL WINAPI InstallMainHooks() { return vm::hooklib::InstallMainHooks(); }
extern "C" BOOL WINAPI UninstallMainHooks() { return vm::hooklib::UninstallMainHooks(); }
