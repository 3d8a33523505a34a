#pragma once
// The notification-area icon and its menu: "Tabs on" (a check item) and "Exit".
// The menu's choices come back to the owner window as WM_COMMAND.
#include <windows.h>

namespace vm::controlcenter {

class TrayIcon {
 public:
  ~TrayIcon() { Remove(); }
  // `callback_message` is what the shell sends to `owner` for mouse events.
  bool Add(HWND owner, UINT callback_message);
  // After Explorer restarted ("TaskbarCreated") the icon must be added again.
  void Readd();
  void Remove();
  // Handles the callback message: the menu on a right click or a double click.
  void OnCallback(LPARAM lparam, bool tabs_on);

 private:
  void ShowMenu(bool tabs_on);
  HWND owner_ = nullptr;
  UINT callback_message_ = 0;
  bool added_ = false;
};

}  // namespace vm::controlcenter
