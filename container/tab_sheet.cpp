#include "container/tab_sheet.h"

#include "common/names.h"

namespace vm::container {
std::unique_ptr<TabSheet> TabSheet::Create(HWND parent) {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = names::kTabSheetClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered || parent == nullptr) return nullptr;
  std::unique_ptr<TabSheet> sheet(new TabSheet());
  sheet->hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, names::kTabSheetClass, L"",
                                 WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0, parent,
                                 nullptr, GetModuleHandleW(nullptr), sheet.get());
  if (sheet->hwnd_ == nullptr) return nullptr;
  return sheet;
}

TabSheet::~TabSheet() {
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void TabSheet::SetMarkedVisible(bool visible) {
  marked_visible_ = visible;
  if (hwnd_ == nullptr) return;
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | kSheetMoveFlags |
                   (visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TabSheet::ShowAt(const RECT& rect, bool to_top) {
  marked_visible_ = true;
  if (hwnd_ == nullptr) return;
  SetWindowPos(hwnd_, to_top ? HWND_TOP : nullptr, rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top,
               kSheetMoveFlags | SWP_SHOWWINDOW | (to_top ? 0 : SWP_NOZORDER));
}

LRESULT CALLBACK TabSheet::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<TabSheet*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr) {
    if (msg == WM_WINDOWPOSCHANGING) {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lparam);
      if ((pos->flags & SWP_SHOWWINDOW) && !self->marked_visible_ &&
          GetAncestor(hwnd, GA_PARENT) == GetDesktopWindow()) {
        pos->flags &= ~SWP_SHOWWINDOW;
      }
    } else if (msg == WM_NCDESTROY) {
      self->hwnd_ = nullptr;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace vm::container
