#pragma once
// Small windows of the library itself (the messenger window, the per-thread
// unhook windows): an ANSI class whose procedure is DefWindowProcA, so the
// class stays harmless after the library is gone, and a stub that calls the
// owning object while the library is there.
#include <windows.h>

#include "hooklib/core/window_message.h"

namespace vm::hooklib {

// Registers class_name (unless a class of that name with DefWindowProcA is
// registered already; one with another procedure is replaced) and creates the
// window. With a method, a stub for it becomes the window procedure and is
// kept in the window's first extra pointer. Null when the window cannot be
// made.
HWND CreateUtilityWindow(const StubMethod* method, HWND parent, const char* class_name, DWORD style,
                         DWORD ex_style) noexcept;

// Destroys the window and frees its stub. A window that cannot be destroyed
// from this thread gets DefWindowProcA back and is asked to close.
void DestroyUtilityWindow(HWND window) noexcept;

}  // namespace vm::hooklib
