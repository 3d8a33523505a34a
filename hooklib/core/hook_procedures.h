#pragma once
// The library's five hook procedures and the window tests they share. They
// find windows that may carry a window rule and offer them to the rule
// dispatcher (ProcessHook), feed messages of windows extended without
// subclassing to their extender, carry out the library's in-process service
// messages, forward a few events to the container and control programs and
// recognise the product's hot keys. Each runs in a HookFrame, swallows every
// exception and passes its call on.
#include <windows.h>

#include "hooklib/core/hook_seams.h"

namespace vm::hooklib {

// Service codes (wParam of the service message).
namespace service {
inline constexpr WPARAM kCheckCandidate = 2;
inline constexpr WPARAM kUnregister = 3;
inline constexpr WPARAM kCaptionChanged = 6;
inline constexpr WPARAM kQueryResetHook = 10;
inline constexpr LRESULT kLeaveAloneAnswer = 42;
inline constexpr WPARAM kHotkey = 15;
inline constexpr WPARAM kAfterMessage = 19;
inline constexpr WPARAM kDeferredCheck = 24;
inline constexpr WPARAM kResetHook = 30;
inline constexpr WPARAM kSetCapture = 33;
inline constexpr WPARAM kReleaseCapture = 34;
inline constexpr WPARAM kFreeStub = 65;
inline constexpr WPARAM kUnhookThread = 66;
inline constexpr WPARAM kRecheck = 67;
}  // namespace service

LRESULT CALLBACK MessageHookProc(int code, WPARAM wparam, LPARAM lparam) noexcept;
LRESULT CALLBACK ShellHookProc(int code, WPARAM wparam, LPARAM lparam) noexcept;
LRESULT CALLBACK CallWndProcHook(int code, WPARAM wparam, LPARAM lparam) noexcept;
LRESULT CALLBACK CallWndProcRetHook(int code, WPARAM wparam, LPARAM lparam) noexcept;
void CALLBACK WinEventProc(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object_id,
                           LONG child_id, DWORD thread_id, DWORD time) noexcept;

class HookFrame;
// What the message hook does before it passes a call on (true: the message
// was consumed and is not passed on), in the frame of MessageHookProc.
bool MessageHookWork(HookFrame& frame, int code, WPARAM wparam, MSG* msg) noexcept;

bool IsWindowCandidate(HWND window) noexcept;
void ProcessWindowCandidate(HWND window, ExtensionReason reason, UINT message,
                            bool ignore_visibility) noexcept;

// The window's z-order band (Windows 8 and later), -1 when it cannot be told.
using WindowBandQuery = int (*)(HWND window) noexcept;
// Replaces the band query (null restores the system's); for tests.
void SetWindowBandQuery(WindowBandQuery query) noexcept;

// Resolves the optional entry points the hooks use (GetWindowBand,
// GetRawInputData); part of the library's start-up.
void InitHookProcedures() noexcept;

}  // namespace vm::hooklib
