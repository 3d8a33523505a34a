#include "container/docked_window_calls.h"

#include "common/shared_names.h"

namespace vm::container {

std::optional<LRESULT> SendBounded(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT timeout_ms) noexcept {
  if (window == nullptr) return std::nullopt;
  DWORD_PTR result = 0;
  // No SMTO_BLOCK: while we wait, the docked window's thread may itself send
  // to our windows (its new parent is ours), and must not stall on us.
  if (SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, timeout_ms, &result) ==
      0) {
    return std::nullopt;
  }
  return static_cast<LRESULT>(result);
}

std::optional<LRESULT> SendIpc(HWND window, names::IpcCommand command, LPARAM lparam,
                               UINT timeout_ms) noexcept {
  const UINT message = Names().container_ipc;
  if (message == 0) return std::nullopt;
  return SendBounded(window, message, static_cast<WPARAM>(command), lparam, timeout_ms);
}

void NotifyIpc(HWND window, names::IpcCommand command, LPARAM lparam) noexcept {
  const UINT message = Names().container_ipc;
  if (message != 0 && window != nullptr) {
    SendNotifyMessageW(window, message, static_cast<WPARAM>(command), lparam);
  }
}

bool PositionForeignWindow(HWND window, HWND insert_after, int x, int y, int width, int height,
                           UINT flags) noexcept {
  return SetWindowPos(window, insert_after, x, y, width, height, flags | SWP_ASYNCWINDOWPOS) != 0;
}

std::wstring ReadWindowCaption(HWND window, UINT timeout_ms) {
  if (window == nullptr) return {};
  if (auto length = SendBounded(window, WM_GETTEXTLENGTH, 0, 0, timeout_ms);
      length && *length >= 0) {
    // Bounded by what we accept, whatever the other process claims.
    const std::size_t capacity = static_cast<std::size_t>(*length < 32767 ? *length : 32767) + 1;
    std::wstring text(capacity, L'\0');
    if (auto copied = SendBounded(window, WM_GETTEXT, capacity,
                                  reinterpret_cast<LPARAM>(text.data()), timeout_ms)) {
      text.resize(wcsnlen(text.c_str(), capacity));
      return text;
    }
  }
  wchar_t stored[1025] = {};
  const int n = InternalGetWindowText(window, stored, 1025);
  return std::wstring(stored, n > 0 ? static_cast<std::size_t>(n) : 0);
}

namespace {

HICON Scaled(HICON icon, bool big) {
  if (big) return CopyIcon(icon);
  return static_cast<HICON>(CopyImage(icon, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_COPYFROMRESOURCE));
}

}  // namespace

HICON CopyWindowIcon(HWND window, bool big, UINT timeout_ms) {
  if (window != nullptr) {
    if (!big) {
      if (auto small = SendBounded(window, WM_GETICON, ICON_SMALL, 0, timeout_ms); small && *small)
        return CopyIcon(reinterpret_cast<HICON>(*small));
    }
    if (auto icon = SendBounded(window, WM_GETICON, ICON_BIG, 0, timeout_ms); icon && *icon) {
      if (HICON copy = Scaled(reinterpret_cast<HICON>(*icon), big)) return copy;
    }
    if (!big) {
      if (auto small = reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICONSM)))
        return CopyIcon(small);
    }
    if (auto icon = reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICON))) {
      if (HICON copy = Scaled(icon, big)) return copy;
    }
  }
  HICON logo = LoadIconW(nullptr, IDI_WINLOGO);
  return logo != nullptr ? Scaled(logo, big) : nullptr;
}

HICON BigIconSource(HWND window, UINT timeout_ms) {
  if (window == nullptr) return nullptr;
  if (auto icon = SendBounded(window, WM_GETICON, ICON_BIG, 0, timeout_ms); icon && *icon) {
    return reinterpret_cast<HICON>(*icon);
  }
  return reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICON));
}

}  // namespace vm::container
