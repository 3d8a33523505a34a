#pragma once
// The hook library inside one process: entering it (partly in the loader's
// attach notification, the rest on the first call from an ordinary thread),
// the process flags, the global and per-thread hooks, and leaving it.
#include <windows.h>

#include "hooklib/app/process_lists.h"
#include "hooklib/core/hook_seams.h"

namespace vm::hooklib {

class ThreadHookList;

// DLL_PROCESS_ATTACH: only what the loader lock allows (kernel32 calls):
// the storage block, the stub pool, the trampolines. Safe to call again.
void AttachLibrary() noexcept;

// The rest of the start-up (process flags and lists, shared names, optional
// entry points, message filter, hook modes, per-thread hook list, the
// application object), run once by the first entry point that is called on
// an ordinary thread. Entry points called while another thread runs it (or
// re-entered from it) answer false and just pass their call on.
bool EnsureLibraryStarted() noexcept;
bool LibraryStarted() noexcept;

// DLL_PROCESS_DETACH: the notification handler and the exit of the modules.
// `terminating` is true when the whole process ends (lpReserved != NULL).
void DetachLibrary(bool terminating) noexcept;
// DLL_THREAD_DETACH.
void OnThreadDetach() noexcept;

// Exports (32-bit BOOL: -1 true, 0 false).
BOOL InstallMainHooks() noexcept;
BOOL UninstallMainHooks() noexcept;

// Installs the per-thread hooks on the calling thread (explorer.exe only).
bool HookCurrentThread() noexcept;

const WindowsVersionFlags& CurrentWindowsVersion() noexcept;
const ProcessFlags& CurrentProcessFlags() noexcept;
const HookModes& CurrentHookModes() noexcept;
ThreadHookList* CurrentThreadHooks() noexcept;
HOOKPROC CurrentTrampoline(int index) noexcept;
ApplicationFactory CurrentApplicationFactory() noexcept;
bool ApplicationUnloading() noexcept;

// Reads the facts of the running process (executable path, version
// description, loaded modules, Windows version).
ProcessFacts GatherProcessFacts();

}  // namespace vm::hooklib
