#pragma once
// How a window is described for rule matching: its owner's executable, its
// class (with the WPF and application-frame refinements) and its caption.
// The only part of matching that touches user32; the match itself is
// window-free (hooklib/app/rule_table.h).
#include <windows.h>

#include <string>

#include "hooklib/app/rule_table.h"

namespace vm::hooklib {

// Caption reads are sent with this bound and SMTO_ABORTIFHUNG: the window
// may belong to a hung thread of another process.
inline constexpr UINT kCaptionTimeoutMs = 100;

// Fills the description of `wnd`. With `upper_case_file_name` the file name
// is upper-cased (the dispatcher passes false; the match upper-cases it
// itself). Never throws; parts it cannot read stay empty.
WindowInfo FillWindowInfo(HWND wnd, bool upper_case_file_name) noexcept;

// The match as the rule dispatcher runs it in this process: the built-in
// Explorer rule only in explorer.exe, regular expressions through the
// process's pattern library.
MatchContext ProcessMatchContext() noexcept;

// The caption as the match sees it: WM_GETTEXTLENGTH and WM_GETTEXT through
// SendMessageTimeoutW, converted to ANSI; empty when the window does not
// answer in time.
std::string ReadWindowCaption(HWND wnd) noexcept;

// The class as the match sees it (wide, before the ANSI conversion).
std::wstring MatchClassName(HWND wnd);

// SHGetPropertyStoreForWindow, looked up in shell32 at run time. Tests may
// put another in its place (Wine's answers E_NOTIMPL); null restores the
// system's.
using PropertyStoreForWindowFn = HRESULT(WINAPI*)(HWND, REFIID, void**);
void SetPropertyStoreForWindowForTesting(PropertyStoreForWindowFn fn) noexcept;

// The application user model id of a window from its property store, or "".
std::wstring WindowAppUserModelId(HWND wnd);

}  // namespace vm::hooklib
