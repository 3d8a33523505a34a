#pragma once
// Commands of the main handler window ("VellmarkTools_ControlCenterHandlerWindow").
// The notification-area menu sends them as WM_COMMAND; scripts and tests post
// the same WM_COMMAND to the window (clicking a tray icon is not scriptable).
// WM_CLOSE posted to the window ends the program like "Exit".
namespace vm::controlcenter {

inline constexpr unsigned kCommandTabsOn = 0x0101;  // toggles "Tabs on"
inline constexpr unsigned kCommandExit = 0x0102;

// Posted to the main handler window: send one plug-in command to the rule
// dispatcher of every registered client. wParam = the code, one of
//   2  rule table changed (the current table is published again first),
//   3  withdraw all extenders (the dispatcher stops serving),
//   4  option changed; lParam 0 = "FoliantEnabled", 1 = "EventLogEnabled"
//      (the event-log switch in the service block is read again first),
//   33 serve again (data: each client's own messenger window),
//   44 the library is unloading.
// Other codes are refused.
inline constexpr unsigned kMessageSendPluginCommand = 0x8000 + 0x40;  // WM_APP + 0x40

}  // namespace vm::controlcenter
