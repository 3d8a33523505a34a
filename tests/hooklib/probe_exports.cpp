// Test exports of a second build of the hook library's code (hookcore_probe.dll):
// they subclass and release windows from inside a DLL that the test then
// unloads and loads again.
#include <windows.h>

#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/library.h"
#include "hooklib/core/library_state.h"
#include "hooklib/core/stub_pool.h"
#include "hooklib/core/thread_hooks.h"
#include "hooklib/core/window_hook.h"

namespace {

constexpr UINT kProbe = WM_APP + 7;
constexpr LRESULT kProbeAnswer = 2000;

// Library data, not heap: once the DLL is unmapped, a stub still bound to it
// finds its object unreadable.
struct Subclasser {
  vm::hooklib::WindowHook* hook = nullptr;
  long calls = 0;
  void WndProc(HWND window, vm::hooklib::WindowMessage& m) noexcept {
    if (m.Msg == kProbe) {
      ++calls;
      m.Result = kProbeAnswer;
      return;
    }
    hook->CallOldProc(window, m);
  }
};
Subclasser g_subclassers[4];

}  // namespace

// Subclasses `window` in slot 0..3; returns its stub.
extern "C" void* WINAPI ProbeSubclass(int slot, HWND window) {
  if (slot < 0 || slot >= 4) return nullptr;
  vm::hooklib::EnsureLibraryStarted();
  Subclasser& s = g_subclassers[slot];
  delete s.hook;
  s.hook =
      new vm::hooklib::WindowHook(window, vm::hooklib::MakeStubMethod<&Subclasser::WndProc>(&s));
  return s.hook->Stub();
}

extern "C" void WINAPI ProbeRelease(int slot) {
  if (slot < 0 || slot >= 4) return;
  delete g_subclassers[slot].hook;
  g_subclassers[slot].hook = nullptr;
}

extern "C" long WINAPI ProbeCalls(int slot) {
  return slot >= 0 && slot < 4 ? g_subclassers[slot].calls : -1;
}

extern "C" void* WINAPI ProbeStubPages() {
  return vm::hooklib::StubPool::Instance().PageListHead();
}
extern "C" UINT_PTR WINAPI ProbeFreeStubs() {
  return vm::hooklib::StubPool::Instance().FreeCount();
}

// The library's message hook and per-thread hooks on the calling thread, as
// the global hooks and explorer.exe would have them: bit 0 the message hook,
// bit 1 the per-thread hooks (through the trampolines).
extern "C" int WINAPI ProbeHookThisThread() {
  vm::hooklib::EnsureLibraryStarted();
  int result = 0;
  HMODULE self = vm::hooklib::LibraryModule();
  if (SetWindowsHookExW(WH_GETMESSAGE, &vm::hooklib::MessageHookProc, self, GetCurrentThreadId()) !=
      nullptr) {
    result |= 1;
  }
  if (vm::hooklib::ThreadHookList* list = vm::hooklib::CurrentThreadHooks()) {
    if (list->HookThread(GetCurrentThreadId())) result |= 2;
  }
  return result;
}

extern "C" HWND WINAPI ProbeUnhookWindow() {
  vm::hooklib::ThreadHookList* list = vm::hooklib::CurrentThreadHooks();
  return list ? list->Find(GetCurrentThreadId()).unhook_wnd : nullptr;
}

extern "C" BOOL WINAPI ProbeIsForwarder(void* stub) {
  return vm::hooklib::StubPool::Instance().IsForwarder(stub);
}

extern "C" void* WINAPI ProbeTrampoline(int index) {
  return reinterpret_cast<void*>(vm::hooklib::CurrentTrampoline(index));
}

extern "C" BOOL WINAPI ProbeTrampolinesActive() { return vm::hooklib::TrampolinesActive(); }

extern "C" long WINAPI ProbeCallDepth() { return vm::hooklib::CurrentCallDepth(); }

extern "C" BOOL WINAPI ProbeIsHooked(DWORD thread_id) {
  vm::hooklib::ThreadHookList* list = vm::hooklib::CurrentThreadHooks();
  return list != nullptr && list->IsHooked(thread_id);
}

// What a hook call does first: frees the stubs of ended threads' unhook
// windows that are gone; answers how many still wait.
extern "C" UINT_PTR WINAPI ProbeRetiredStubs() {
  vm::hooklib::HookCurrentThread();
  return vm::hooklib::RetiredStubCount();
}
