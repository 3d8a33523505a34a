#include "hooklib/core/window_hook.h"

#include <atomic>

#include "common/names.h"
#include "common/shared_names.h"
#include "hooklib/core/stub_pool.h"

namespace vm::hooklib {
namespace {

std::atomic<ATOM> g_object_instance_atom{0};
std::atomic<ATOM> g_rehooked_atom{0};

bool IsBadCode(void* proc) noexcept {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return proc == nullptr || IsBadCodePtr(reinterpret_cast<FARPROC>(proc));
#pragma GCC diagnostic pop
}

void* DefaultProc(bool unicode) noexcept {
  return unicode ? reinterpret_cast<void*>(&DefWindowProcW)
                 : reinterpret_cast<void*>(&DefWindowProcA);
}

}  // namespace

void InitWindowHookAtoms() noexcept {
  ATOM stub_left = Names().stub_left;
  ATOM rehooked = Names().rehooked;
  if (stub_left == 0) stub_left = GlobalAddAtomW(names::kStubLeftAtom);
  if (rehooked == 0) rehooked = GlobalAddAtomW(names::kRehookedAtom);
  g_object_instance_atom.store(stub_left);
  g_rehooked_atom.store(rehooked);
}

const wchar_t* ObjectInstanceProp() noexcept {
  ATOM a = g_object_instance_atom.load();
  return a != 0 ? MAKEINTATOM(a) : names::kStubLeftAtom;
}

const wchar_t* RehookedProp() noexcept {
  ATOM a = g_rehooked_atom.load();
  return a != 0 ? MAKEINTATOM(a) : names::kRehookedAtom;
}

WindowHook::WindowHook(HWND window, const StubMethod& method, const wchar_t* object_instance_prop,
                       const wchar_t* rehooked_prop) noexcept
    : handle_(window),
      method_(method),
      unicode_(window != nullptr && IsWindowUnicode(window)),
      object_instance_prop_(object_instance_prop ? object_instance_prop : ObjectInstanceProp()),
      rehooked_prop_(rehooked_prop ? rehooked_prop : RehookedProp()) {
  HookWindow();
}

WindowHook::~WindowHook() { UnhookWindow(); }

void WindowHook::HookWindow() noexcept {
  if (enabled_ || handle_ == nullptr) return;
  StubPool& pool = StubPool::Instance();
  // A stub left on the window by an earlier release becomes ours again; the
  // window procedure chain is not touched.
  void* left = GetPropW(handle_, object_instance_prop_);
  if (left != nullptr && pool.IsForwarder(left)) {
    void* previous = pool.RetargetStub(left, &method_);
    if (previous != nullptr) {
      new_proc_ = left;
      old_proc_ = previous;
      enabled_ = true;
      return;
    }
  }
  void* stub = pool.AllocateStub(method_);
  if (stub == nullptr) return;
  const LONG_PTR previous =
      unicode_ ? SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(stub))
               : SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(stub));
  if (previous == 0) {  // the window is gone or not ours to subclass
    pool.FreeStub(stub);
    return;
  }
  new_proc_ = stub;
  old_proc_ = reinterpret_cast<void*>(previous);
  enabled_ = true;
}

void WindowHook::RepairOldProc() noexcept {
  if (IsBadCode(old_proc_)) old_proc_ = DefaultProc(unicode_);
}

void WindowHook::UnhookWindow() noexcept {
  StubPool& pool = StubPool::Instance();
  const bool exists = handle_ != nullptr && IsWindow(handle_);
  if (enabled_ && new_proc_ != nullptr) {
    if (exists) {
      SetPropW(handle_, object_instance_prop_, new_proc_);
      RepairOldProc();
      pool.MakeForwarder(new_proc_, old_proc_, unicode_);
    } else {
      pool.FreeStub(new_proc_);
      new_proc_ = nullptr;
    }
  }
  enabled_ = false;
  if (exists) RemovePropW(handle_, rehooked_prop_);
}

void WindowHook::CallOldProc(HWND window, WindowMessage& message) noexcept {
  RepairOldProc();
  message.Result = unicode_ ? CallWindowProcW(reinterpret_cast<WNDPROC>(old_proc_), window,
                                              message.Msg, message.WParam, message.LParam)
                            : CallWindowProcA(reinterpret_cast<WNDPROC>(old_proc_), window,
                                              message.Msg, message.WParam, message.LParam);
}

void WindowHook::RehookWindow(bool connect) noexcept {
  if (handle_ == nullptr || GetPropW(handle_, rehooked_prop_) != nullptr) return;
  if (connect) {
    HookWindow();
    SetPropW(handle_, rehooked_prop_, reinterpret_cast<HANDLE>(1));
  } else if (enabled_) {
    SetPropW(handle_, object_instance_prop_, nullptr);
    auto class_proc = reinterpret_cast<void*>(unicode_ ? GetClassLongPtrW(handle_, GCLP_WNDPROC)
                                                       : GetClassLongPtrA(handle_, GCLP_WNDPROC));
    if (class_proc == nullptr) class_proc = DefaultProc(unicode_);
    StubPool::Instance().MakeForwarder(new_proc_, class_proc, unicode_);
    enabled_ = false;
  }
}

void WindowHook::RehookWindowFromScratch() noexcept {
  if (enabled_ && new_proc_ != nullptr) {
    if (handle_ != nullptr && IsWindow(handle_)) {
      // The old stub may still sit in the window's procedure chain (under a
      // later subclasser, or as the procedure the fresh stub will call):
      // it stays a pass-through for good instead of being freed.
      RepairOldProc();
      StubPool::Instance().MakeForwarder(new_proc_, old_proc_, unicode_);
    } else {
      StubPool::Instance().FreeStub(new_proc_);
    }
    new_proc_ = nullptr;
  }
  enabled_ = false;
  if (handle_ != nullptr) RemovePropW(handle_, object_instance_prop_);
  HookWindow();
}

void WindowHook::SetEnabled(bool enabled) noexcept {
  if (enabled == enabled_) return;
  if (enabled) {
    HookWindow();
  } else {
    UnhookWindow();
  }
}

}  // namespace vm::hooklib
