#pragma once
// Commands of the main handler window ("VellmarkTools_ControlCenterHandlerWindow").
// The notification-area menu sends them as WM_COMMAND; scripts and tests post
// the same WM_COMMAND to the window (clicking a tray icon is not scriptable).
// WM_CLOSE posted to the window ends the program like "Exit".
namespace vm::controlcenter {

inline constexpr unsigned kCommandTabsOn = 0x0101;  // toggles "Tabs on"
inline constexpr unsigned kCommandExit = 0x0102;

}  // namespace vm::controlcenter
