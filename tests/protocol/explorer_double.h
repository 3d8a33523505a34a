#pragma once
// Contract between the protocol tests and explorer_double.exe, the test
// program that plays a docked Explorer window's hook library.
#include <windows.h>

namespace vm::test::explorer_double {

inline constexpr wchar_t kClassName[] = L"VellmarkTest_ExplorerDouble";

// Private queries, answered synchronously by the double's window.
inline constexpr UINT kQueryNavigations = WM_APP + 1;        // navigations that parsed
inline constexpr UINT kQueryLastResult = WM_APP + 2;         // bits of the last navigation, below
inline constexpr UINT kQueryBufferSize = WM_APP + 3;         // current path-buffer size
inline constexpr UINT kQueryRefusedReferences = WM_APP + 4;  // navigations that did not parse
inline constexpr UINT kHang = WM_APP + 5;  // posted: the thread stops pumping for lParam ms

inline constexpr LRESULT kIdListEqual = 1;   // ILIsEqual with the expected folder
inline constexpr LRESULT kCaptionEqual = 2;  // caption equals the expected folder's

// WM_COPYDATA with this dwData: the UTF-16 path (SHParseDisplayName) the next
// navigations are compared with; an empty path means the desktop.
inline constexpr ULONG_PTR kCopyExpectedFolder = 0x5EED;

}  // namespace vm::test::explorer_double
