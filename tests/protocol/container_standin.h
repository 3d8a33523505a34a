#pragma once
// Contract between the start tests and container_standin.exe.
#include <windows.h>

namespace vm::test::container_standin {

inline constexpr UINT kQueryDockCount = WM_APP + 1;
inline constexpr UINT kQueryLastDockWindow = WM_APP + 2;
inline constexpr UINT kQueryLastDockLock = WM_APP + 3;
inline constexpr UINT kQueryUndockCount = WM_APP + 4;
inline constexpr UINT kQueryLastUndockWindow = WM_APP + 5;
inline constexpr UINT kQueryLastUndockLock = WM_APP + 6;

}  // namespace vm::test::container_standin
