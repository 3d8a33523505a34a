#include "container/folder_handoff.h"

#include <cstring>
#include <optional>
#include <string>

#include "common/container_protocol.h"
#include "common/names.h"
#include "common/shared_names.h"
#include "common/unique_handle.h"

namespace vm::container {
namespace {

using names::IpcCommand;

// Sends one container IPC command. No answer (time-out, hung thread, dead
// window) reads as 0, which every command treats as failure.
LRESULT SendIpc(HWND window, IpcCommand command, LPARAM lparam, UINT flags, UINT timeout_ms) {
  const UINT message = Names().container_ipc;
  if (message == 0) return 0;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, message, static_cast<WPARAM>(command), lparam, flags, timeout_ms,
                           &answer)) {
    return 0;
  }
  return static_cast<LRESULT>(answer);
}

// Copies the reference and its terminator into the window's path buffer.
bool WriteIntoPathBuffer(HWND window, std::string_view reference) {
  UniqueHandle mapping(
      OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, protocol::PathBufferName(window).c_str()));
  if (!mapping) return false;
  UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!view) return false;
  // The buffer belongs to another process: write only what it really holds,
  // whatever its answer to IPC_PREPAREBUFFER claimed.
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view.get(), &info, sizeof(info)) == 0 ||
      info.RegionSize < reference.size() + 1) {
    return false;
  }
  auto* dest = static_cast<char*>(view.get());
  std::memcpy(dest, reference.data(), reference.size());
  dest[reference.size()] = '\0';
  return true;
}

}  // namespace

void BringWindowForward(HWND window) {
  for (int attempt = 0; attempt < 6; ++attempt) {
    const HWND target = GetLastActivePopup(window);
    if (!IsWindow(target) || GetForegroundWindow() == target) return;
    if (SetForegroundWindow(target)) return;
    Sleep(100);
  }
}

bool AllowForegroundFrom(HWND docked_window, UINT timeout_ms) noexcept {
  return SendIpc(docked_window, IpcCommand::AllowSetForeground,
                 static_cast<LPARAM>(GetCurrentProcessId()), SMTO_NORMAL, timeout_ms) != 0;
}

HandoffResult HandReferenceToWindow(HWND docked_window, std::string_view reference,
                                    const BringForwardFn& bring_forward,
                                    const HandoffTimeouts& timeouts) noexcept {
  HandoffResult result;
  try {
    if (reference.empty() || reference.size() > protocol::kMaxPathBufferRequest ||
        !IsWindow(docked_window)) {
      return result;
    }
    // A hung Explorer thread must not hang the container: SMTO_ABORTIFHUNG.
    if (SendIpc(docked_window, IpcCommand::PrepareBuffer, static_cast<LPARAM>(reference.size()),
                SMTO_ABORTIFHUNG, timeouts.command_ms) == 0) {
      return result;
    }
    if (!WriteIntoPathBuffer(docked_window, reference)) {
      result.handoff = FolderHandoff::NoBuffer;
      return result;
    }
    if (SendIpc(docked_window, IpcCommand::Navigate, 0, SMTO_ABORTIFHUNG, timeouts.command_ms) ==
        0) {
      result.handoff = FolderHandoff::NotNavigated;
      return result;
    }
    result.handoff = FolderHandoff::Navigated;
    if (AllowForegroundFrom(docked_window, timeouts.allow_foreground_ms)) {
      if (bring_forward) bring_forward(docked_window);
      result.brought_forward = true;
    }
  } catch (...) {
  }
  return result;
}

HandoffResult HandFolderToWindow(HWND docked_window, PCIDLIST_ABSOLUTE folder,
                                 const BringForwardFn& bring_forward,
                                 const HandoffTimeouts& timeouts) noexcept {
  try {
    const std::optional<std::string> reference = protocol::MakeFolderReference(folder);
    if (!reference) return {};
    return HandReferenceToWindow(docked_window, *reference, bring_forward, timeouts);
  } catch (...) {
    return {};
  }
}

}  // namespace vm::container
