#include "hooklib/app/window_props.h"

#include "common/shared_names.h"
#include "common/system_info.h"

namespace vm::hooklib {

namespace {

bool IsConsoleWindow(HWND wnd) {
  wchar_t name[32] = {};
  const int n = GetClassNameW(wnd, name, static_cast<int>(std::size(name)));
  return n > 0 && lstrcmpW(name, L"ConsoleWindowClass") == 0;
}

// The window that carries `wnd`'s properties, or null when a console
// window's observer is missing.
HWND PropertyWindow(HWND wnd, const ConsolePatch& patch) {
  if (!patch.active || !IsConsoleWindow(wnd)) return wnd;
  if (patch.observer_atom == 0) return nullptr;
  HWND observer = static_cast<HWND>(GetPropW(wnd, MAKEINTATOM(patch.observer_atom)));
  return observer != nullptr && IsWindow(observer) ? observer : nullptr;
}

}  // namespace

ConsolePatch CurrentConsolePatch() noexcept {
  return ConsolePatch{!Os().flags.windows7_or_later, Names().console_patch_observer};
}

bool SetWindowPropEx(HWND wnd, const wchar_t* name, HANDLE value,
                     const ConsolePatch& patch) noexcept {
  HWND target = PropertyWindow(wnd, patch);
  return target != nullptr && SetPropW(target, name, value) != FALSE;
}

HANDLE GetWindowPropEx(HWND wnd, const wchar_t* name, const ConsolePatch& patch) noexcept {
  HWND target = PropertyWindow(wnd, patch);
  if (target == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return GetPropW(target, name);
}

HANDLE RemoveWindowPropEx(HWND wnd, const wchar_t* name, const ConsolePatch& patch) noexcept {
  HWND target = PropertyWindow(wnd, patch);
  if (target == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return RemovePropW(target, name);
}

bool SetWindowPropEx(HWND wnd, const wchar_t* name, HANDLE value) noexcept {
  return SetWindowPropEx(wnd, name, value, CurrentConsolePatch());
}
HANDLE GetWindowPropEx(HWND wnd, const wchar_t* name) noexcept {
  return GetWindowPropEx(wnd, name, CurrentConsolePatch());
}
HANDLE RemoveWindowPropEx(HWND wnd, const wchar_t* name) noexcept {
  return RemoveWindowPropEx(wnd, name, CurrentConsolePatch());
}

}  // namespace vm::hooklib
