// Stands in for an Explorer module that asks GetAncestor for a window's root.
#include <windows.h>

extern "C" __declspec(dllexport) HWND AskAncestor(HWND window, UINT flags) {
  return GetAncestor(window, flags);
}
