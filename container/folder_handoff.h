#pragma once
// Handing a folder to a docked Explorer window: the container writes a folder
// reference into the window's path buffer and the hook library inside
// Explorer opens it (IPC_PREPAREBUFFER, IPC_NAVIGATE), after which the
// container brings the window forward when Explorer lets it.
#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <string_view>

namespace vm::container {

enum class FolderHandoff {
  Navigated,    // the window took the folder
  Refused,      // no reference could be built, or IPC_PREPAREBUFFER answered 0 or timed out
  NoBuffer,     // the buffer could not be opened or mapped, or was too small
  NotNavigated  // IPC_NAVIGATE answered 0 or timed out
};

struct HandoffTimeouts {
  // Sends of IPC_PREPAREBUFFER and IPC_NAVIGATE. SMTO_ABORTIFHUNG returns at
  // once from a hung Explorer thread; this bounds the wait on a busy one.
  UINT command_ms = 2000;
  UINT allow_foreground_ms = 100;  // IPC_ALLOWSETFOREGROUND
};

struct HandoffResult {
  FolderHandoff handoff = FolderHandoff::Refused;
  bool brought_forward = false;  // foreground allowed and the bring-forward routine ran
};

// Brings a docked window to the foreground. The container passes its own
// routine (which also keeps the main window's activation bookkeeping).
using BringForwardFn = std::function<void(HWND)>;

// The plain routine: up to 6 tries of SetForegroundWindow on the window's last
// active popup, 100 ms apart.
void BringWindowForward(HWND window);

// IPC_ALLOWSETFOREGROUND for this process: true when the window's hook
// answered non-zero within the time-out.
bool AllowForegroundFrom(HWND docked_window, UINT timeout_ms = 100) noexcept;

// Hands `folder` to `docked_window`. Needs the shared names initialised
// (the container IPC message). Never blocks on a hung Explorer thread.
HandoffResult HandFolderToWindow(HWND docked_window, PCIDLIST_ABSOLUTE folder,
                                 const BringForwardFn& bring_forward = BringWindowForward,
                                 const HandoffTimeouts& timeouts = {}) noexcept;

// The same with a folder reference string already built (ASCII).
HandoffResult HandReferenceToWindow(HWND docked_window, std::string_view reference,
                                    const BringForwardFn& bring_forward = BringWindowForward,
                                    const HandoffTimeouts& timeouts = {}) noexcept;

}  // namespace vm::container
