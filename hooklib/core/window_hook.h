#pragma once
// Subclasses one window with a window-procedure stub and lets go of it
// safely: on release the window keeps the stub as its window procedure, now
// a pass-through to the procedure that was there before, and records the
// stub in a window property. Whoever subclassed the window after us keeps
// working, and a later hook of the same window takes the same stub back.
#include <windows.h>

#include "hooklib/core/window_message.h"

namespace vm::hooklib {

class WindowHook {
 public:
  // Property ids may be atoms (MAKEINTATOM) or strings; null takes the
  // defaults: the stub-left and the re-hooked atoms of the shared names.
  WindowHook(HWND window, const StubMethod& method, const wchar_t* object_instance_prop = nullptr,
             const wchar_t* rehooked_prop = nullptr) noexcept;
  ~WindowHook();
  WindowHook(const WindowHook&) = delete;
  WindowHook& operator=(const WindowHook&) = delete;

  void HookWindow() noexcept;
  void UnhookWindow() noexcept;
  // Calls the window procedure that was in place before the stub.
  void CallOldProc(HWND window, WindowMessage& message) noexcept;
  void RehookWindow(bool connect) noexcept;
  void RehookWindowFromScratch() noexcept;
  void SetEnabled(bool enabled) noexcept;

  HWND Handle() const noexcept { return handle_; }
  bool Enabled() const noexcept { return enabled_; }
  bool UnicodeWindow() const noexcept { return unicode_; }
  void* Stub() const noexcept { return new_proc_; }
  void* OldWndProc() const noexcept { return old_proc_; }

 private:
  void RepairOldProc() noexcept;

  HWND handle_ = nullptr;
  void* old_proc_ = nullptr;
  void* new_proc_ = nullptr;
  StubMethod method_;
  bool enabled_ = false;
  bool unicode_ = false;
  const wchar_t* object_instance_prop_ = nullptr;
  const wchar_t* rehooked_prop_ = nullptr;
};

// The default property ids (atoms added when the stub module starts).
const wchar_t* ObjectInstanceProp() noexcept;
const wchar_t* RehookedProp() noexcept;
// Adds the two atoms when the shared names did not (called at start-up).
void InitWindowHookAtoms() noexcept;

}  // namespace vm::hooklib
