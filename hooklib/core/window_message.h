#pragma once
// The message record every window-procedure method and message handler of the
// hook library receives (the layout the stub dispatcher builds on its stack).
#include <windows.h>

#include <cstddef>

namespace vm::hooklib {

struct WindowMessage {
  UINT Msg = 0;
  UINT Filler = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};
static_assert(sizeof(WindowMessage) == 32);
static_assert(offsetof(WindowMessage, WParam) == 8);
static_assert(offsetof(WindowMessage, LParam) == 16);
static_assert(offsetof(WindowMessage, Result) == 24);

// A window procedure bound to an object: code(object, hWnd, message). The
// code is a noexcept boundary (an exception thrown through the stub would
// skip the dispatcher's decrement of the call depth, and the library could
// never be let go); its result goes into message.Result.
// The object must stay readable while the stub may be called: a stub whose
// object has become unreadable (freed, or unmapped with the library) answers
// non-zero without calling anything.
struct StubMethod {
  using Code = void (*)(void* object, HWND window, WindowMessage* message) noexcept;
  Code code = nullptr;
  void* object = nullptr;
};

// StubMethod for a member function: MakeStubMethod<&T::WndProc>(this), where
// WndProc(HWND, WindowMessage&). Whatever the member throws ends here: the
// message gets the neutral answer 0.
template <auto Member, typename T>
StubMethod MakeStubMethod(T* object) {
  return StubMethod{[](void* self, HWND window, WindowMessage* message) noexcept {
                      try {
                        (static_cast<T*>(self)->*Member)(window, *message);
                      } catch (...) {
                        message->Result = 0;
                      }
                    },
                    object};
}

}  // namespace vm::hooklib
