#pragma once
// Window properties that also work on the console windows of systems older
// than Windows 7, where a console window belongs to csrss and takes no
// properties from us: there an observer window, named in the console
// window's property "VellmarkTools_ConsolePatch_Observer", carries them.
#include <windows.h>

namespace vm::hooklib {

// Whether the console redirection applies, and the observer property's atom.
struct ConsolePatch {
  bool active = false;  // before Windows 7
  ATOM observer_atom = 0;
};

// The process's: active before Windows 7, with the shared names' atom.
ConsolePatch CurrentConsolePatch() noexcept;

// SetPropW / GetPropW / RemovePropW on `wnd`, or on the observer of a
// console window while the patch is active. Without a live observer,
// SetWindowPropEx fails and the others return null with last error
// ERROR_FILE_NOT_FOUND. `name` may be a string or MAKEINTATOM(atom).
bool SetWindowPropEx(HWND wnd, const wchar_t* name, HANDLE value) noexcept;
HANDLE GetWindowPropEx(HWND wnd, const wchar_t* name) noexcept;
HANDLE RemoveWindowPropEx(HWND wnd, const wchar_t* name) noexcept;

bool SetWindowPropEx(HWND wnd, const wchar_t* name, HANDLE value,
                     const ConsolePatch& patch) noexcept;
HANDLE GetWindowPropEx(HWND wnd, const wchar_t* name, const ConsolePatch& patch) noexcept;
HANDLE RemoveWindowPropEx(HWND wnd, const wchar_t* name, const ConsolePatch& patch) noexcept;

}  // namespace vm::hooklib
