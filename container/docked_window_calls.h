#pragma once
// Every call the container makes into a docked window, which belongs to
// another process (normally an Explorer thread). Such a thread may hang: a
// plain SendMessageW or a synchronous SetWindowPos would then freeze the
// container's only thread and every tab with it. These calls bound the wait
// instead: sends give up after a short time-out (at once for a thread the
// system already considers hung), positioning is queued to the window's own
// thread. A time-out counts as a failure; the caller goes on.
#include <windows.h>

#include <optional>
#include <string>

#include "common/names.h"

namespace vm::container {

// The container's bound for a send to a docked window.
inline constexpr UINT kDockedSendTimeoutMs = 100;

// SendMessageTimeoutW with SMTO_ABORTIFHUNG; the answer, or none on time-out
// or failure.
std::optional<LRESULT> SendBounded(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT timeout_ms = kDockedSendTimeoutMs) noexcept;

// A container IPC command (answered by the hook library inside the window's
// process); none on time-out, failure or a missing IPC message.
std::optional<LRESULT> SendIpc(HWND window, names::IpcCommand command, LPARAM lparam,
                               UINT timeout_ms = kDockedSendTimeoutMs) noexcept;

// IPC_ENABLEWINDOW 1 as a notify message: never waits.
void NotifyIpc(HWND window, names::IpcCommand command, LPARAM lparam) noexcept;

// SetWindowPos on a foreign window, queued to its thread (SWP_ASYNCWINDOWPOS)
// so that a hung window cannot hold the container.
bool PositionForeignWindow(HWND window, HWND insert_after, int x, int y, int width, int height,
                           UINT flags) noexcept;

// The window's caption: WM_GETTEXTLENGTH and WM_GETTEXT with a time-out each;
// when they fail, the text the system keeps for it (no message at all).
// At most 1024 characters from the fallback.
std::wstring ReadWindowCaption(HWND window, UINT timeout_ms = kDockedSendTimeoutMs);

// A copy of the window's small icon, the first answer of: WM_GETICON
// ICON_SMALL, ICON_BIG, the class's small icon, the class's icon, the system's
// IDI_WINLOGO. The caller owns it. `big` asks for the container's icon order
// instead: ICON_BIG, the class's icon, IDI_WINLOGO.
HICON CopyWindowIcon(HWND window, bool big = false, UINT timeout_ms = kDockedSendTimeoutMs);

// The icon the container's own icon is copied from: the window's WM_GETICON
// ICON_BIG answer, else its class's icon; null when it has neither. Not a
// copy: the container compares it with the one it copied last and copies
// only when it changed.
HICON BigIconSource(HWND window, UINT timeout_ms = kDockedSendTimeoutMs);

// Moving the foreground waits for the thread of the window that has it. True
// when that is a window of ours, or another process's window that answers
// within the bound.
bool ForeignForegroundAnswers();

}  // namespace vm::container
