#include "controlcenter/tray_icon.h"

#include <shellapi.h>

#include <cwchar>
#include <iterator>

#include "controlcenter/handler_commands.h"

namespace vm::controlcenter {
namespace {

constexpr UINT kIconId = 1;

NOTIFYICONDATAW IconData(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = kIconId;
  return data;
}

}  // namespace

bool TrayIcon::Add(HWND owner, UINT callback_message) {
  owner_ = owner;
  callback_message_ = callback_message;
  NOTIFYICONDATAW data = IconData(owner);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = callback_message;
  data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wcsncpy(data.szTip, L"Vellmark Foliant", std::size(data.szTip) - 1);
  added_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
  return added_;
}

void TrayIcon::Readd() {
  if (owner_ == nullptr) return;
  added_ = false;
  Add(owner_, callback_message_);
}

void TrayIcon::Remove() {
  if (!added_) return;
  NOTIFYICONDATAW data = IconData(owner_);
  Shell_NotifyIconW(NIM_DELETE, &data);
  added_ = false;
}

void TrayIcon::OnCallback(LPARAM lparam, bool tabs_on) {
  const UINT event = LOWORD(lparam);
  if (event == WM_RBUTTONUP || event == WM_CONTEXTMENU || event == WM_LBUTTONDBLCLK) {
    ShowMenu(tabs_on);
  }
}

void TrayIcon::ShowMenu(bool tabs_on) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  AppendMenuW(menu, MF_STRING | (tabs_on ? MF_CHECKED : MF_UNCHECKED), kCommandTabsOn, L"Tabs on");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kCommandExit, L"Exit");
  POINT at{};
  GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only if its owner is the
  // foreground window.
  SetForegroundWindow(owner_);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, owner_, nullptr);
  PostMessageW(owner_, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

}  // namespace vm::controlcenter
