#pragma once
// The names every process of the product meets through: registered messages,
// atoms, class names, properties, kernel objects, registry keys and files.
// Plain constants only, so code that needs no windows.h can use them too.
#include <cstdint>

namespace vm::names {

inline constexpr wchar_t kProductId[] = L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kPathBufferId[] = L"{584223DF-8A02-49D3-BC9A-F8CA43158E7B}";
inline constexpr wchar_t kHookHostInstanceId[] = L"{579A4B4D-319C-47E8-B746-A6E25AB01600}_64";
inline constexpr wchar_t kContainerInstanceId[] = L"{837090FF-3847-4FFD-8541-9CD125B923DE}";

// Registered window messages.
inline constexpr wchar_t kHandshakeMessage[] = L"Handshake{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kServiceMessage[] = L"ServiceMessage_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kWinEventMessage[] = L"WinEventMessage_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kDelayedCommandMessage[] =
    L"DelayedCBCommand{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kTaskbarCreatedMessage[] = L"TaskbarCreated";
inline constexpr wchar_t kHookHostReservedMessage[] = L"{5D1A222D-F4F7-4503-BBFD-53404E674EA5}";
inline constexpr wchar_t kTrayIconMessage[] = L"TrayIcon_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kContainerIpcMessage[] = L"VFO-IPC-6B2D1CBA-41DB-4083-B1A4-00E8E06820AE";
inline constexpr wchar_t kConsolePatchMessage[] = L"VellmarkTools_ConsolePatch_Message";
inline constexpr wchar_t kIntentApiUpdateMessage[] = L"INTENTAPI_UPDATE";
inline constexpr wchar_t kShellHookMessage[] = L"SHELLHOOK";

// Values used when RegisterWindowMessageW answers 0.
inline constexpr unsigned kServiceMessageFallback = 0x8319;
inline constexpr unsigned kWinEventMessageFallback = 0x831A;
inline constexpr unsigned kHookHostReservedFallback = 0x8318;
inline constexpr unsigned kContainerIpcFallback = 0x88FC;

// Window classes that are compared by class atom.
inline constexpr wchar_t kMessengerClientClass[] = L"vfo_MessengerClientWindow";
inline constexpr wchar_t kConfigMessengerClientClass[] = L"vfo_ConfigBuilder_MessengerClientWindow";
inline constexpr wchar_t kTApplicationClass[] = L"TApplication";
inline constexpr wchar_t kObjAppClass[] = L"obj_App";
// Windows of the maker's other desktop tools; only ever compared against.
inline constexpr wchar_t kSiblingFloatingWindowClass[] = L"VellmarkTools_FloatingPanel";
inline constexpr wchar_t kSiblingToggleWindowClass[] = L"VellmarkTools_TogglePanel";
inline constexpr wchar_t kCoreWindowClass[] = L"Windows.UI.Core.CoreWindow";
inline constexpr wchar_t kSiblingAppFrameClass[] = L"VellmarkTools_StoreAppFrame";
inline constexpr wchar_t kApplicationFrameClass[] = L"ApplicationFrameWindow";
inline constexpr wchar_t kStickyTopWindowClass[] = L"Modern_Sticky_Top_Window";
inline constexpr wchar_t kMessageClass[] = L"Message";
inline constexpr wchar_t kContainerWindowClass[] = L"VellmarkTools_FoliantContainerWindow";
inline constexpr wchar_t kSiblingDesktopTaskbarClass[] = L"VellmarkTools_DesktopTaskbar";
inline constexpr wchar_t kSiblingMonitorTaskbarClass[] = L"VellmarkTools_MonitorTaskbar";
inline constexpr wchar_t kCabinetClass[] = L"CabinetWClass";
inline constexpr wchar_t kExploreClass[] = L"ExploreWClass";
inline constexpr wchar_t kUtilWindowClassA[] =
    L"TPUtilWindow-TMY-ACAF45DF-C00A-4DBC-99EA-0E7D92B9DBEC";
inline constexpr wchar_t kUtilWindowClassW[] =
    L"TPUtilWindowW-TMY-ACAF45DF-C00A-4DBC-99EA-0E7D92B9DBEC";
inline constexpr wchar_t kSiblingTaskSwitcherClass[] = L"VellmarkTools_TaskSwitcher";

// The container program's own classes and the ones it compares against.
inline constexpr wchar_t kMainWindowClass[] = L"VellmarkTools_FoliantMainWindow";
inline constexpr wchar_t kTabSheetClass[] = L"VellmarkTools_FoliantTab";
inline constexpr wchar_t kNetUiToolWindowClass[] = L"Net UI Tool Window";
inline constexpr wchar_t kTaskSwitcherClass[] = L"TaskSwitcherWnd";
inline constexpr wchar_t kMultitaskingViewClass[] = L"MultitaskingViewFrame";
// Hook library windows.
inline constexpr wchar_t kLocalUnhookWindowClass[] = L"vfo_LocalUnhookWnd";
// Control program windows.
inline constexpr wchar_t kMessengerServerClass[] = L"vfo_MessengerServerWindow";
inline constexpr wchar_t kMessengerShellServerClass[] = L"vfo_MessengerShellServerWindow";
inline constexpr wchar_t kControlCenterHandlerClass[] = L"VellmarkTools_ControlCenterHandlerWindow";
inline constexpr wchar_t kShellControlCenterHandlerClass[] =
    L"VellmarkTools_ShellControlCenterHandlerWindow";
inline constexpr wchar_t kControlCenterHandlerTitle[] = L"Vellmark Foliant";

// Global atoms (most are window-property names).
inline constexpr wchar_t kConsoleProcessAtom[] = L"{DC1B9555-736A-4514-A849-680B9B945802}";
inline constexpr wchar_t kReservedAtom1[] = L"{23CF20B2-F478-4FD7-B92F-C155067CD9C5}";
inline constexpr wchar_t kReservedAtom2[] = L"{D22F3A01-1BAD-4941-B8AB-2B88A824A84A}";
inline constexpr wchar_t kReservedAtom3[] = L"{DC10751C-3F8C-4EB9-8E5B-9A05A3CC51D1}";
inline constexpr wchar_t kReservedAtom4[] = L"{EC41540F-6409-4F80-BA88-658187C730E4}";
inline constexpr wchar_t kNoninvasiveAtom[] = L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_Noninvasive";
inline constexpr wchar_t kScreenToParentRectsAtom[] = L"{F5C8B9D3-736F-4773-890A-789C4FB52FD0}";
inline constexpr wchar_t kNoRematchOnCaptionAtom[] = L"{703D709D-6421-49D3-8A80-81D9A05E9284}";
inline constexpr wchar_t kRuleCrcAtom[] = L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_RuleCRC";
inline constexpr wchar_t kRuleCrcValidAtom[] = L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_RuleCRCValid";
inline constexpr wchar_t kBlockVisibilityStateAtom[] =
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_BlockVisibilityState";
inline constexpr wchar_t kMoveToMonitorWithMouseAtom[] =
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_MoveToMonitorWithMouse";
inline constexpr wchar_t kStubLeftAtom[] = L"{8284CE12-6834-404E-9BF3-03DA3F0C7939}";
inline constexpr wchar_t kRehookedAtom[] = L"Rehooked_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
inline constexpr wchar_t kConsolePatchObserverAtom[] = L"VellmarkTools_ConsolePatch_Observer";
// Looked up by name only: the control program adds one per hot key.
inline constexpr wchar_t kHotkeyAtomPrefix[] = L"VXHotkey_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";

// String properties on a docked window.
inline constexpr wchar_t kPropContainerWnd[] = L"{0BB5F2AC-74E1-4F12-BDDD-3D111A60ECBF}";
inline constexpr wchar_t kPropMainWnd[] = L"{9EFACD66-3044-4B55-8BEE-FF6152EF98F7}";

// Named kernel objects (session namespace).
inline constexpr wchar_t kStartupEvent[] =
    L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_CC64StartupEvent";
inline constexpr wchar_t kShutdownEvent[] =
    L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_CC64ShutdownEvent";
inline constexpr wchar_t kNeedReloginEvent[] =
    L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_CC64NeedReloginEvent";
inline constexpr wchar_t kFileLockPrefix[] = L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_FileLock_";
inline constexpr wchar_t kServiceMapping[] =
    L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_ServiceMapping_8146";
inline constexpr wchar_t kParamStringsPrefix[] =
    L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_ParamStrings_";
inline constexpr wchar_t kLocalStoragePrefix[] =
    L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_EALocalStorageV8147_";
inline constexpr wchar_t kPathBufferPrefix[] =
    L"Local\\{584223DF-8A02-49D3-BC9A-F8CA43158E7B}_FoliantData_";
inline constexpr wchar_t kContainerStartLock[] = L"Local\\VellmarkTools_TabbedContainerStartLock";

// Registry and files.
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Vellmark Tools\\Vellmark Foliant";
inline constexpr wchar_t kEventLoggerKey[] =
    L"SOFTWARE\\Vellmark Tools\\Vellmark Foliant\\Command Center\\Plugins\\EventLogger";
inline constexpr wchar_t kWindowRulesKey[] = L"SOFTWARE\\Vellmark Tools\\Vellmark Foliant\\WindowRules\\";
inline constexpr wchar_t kConfigFilesLocationValue[] = L"ConfigFilesLocation";
inline constexpr wchar_t kEnabledValue[] = L"Enabled";
inline constexpr wchar_t kEventLogFile[] = L"CenterEvents.log";
inline constexpr wchar_t kInitErrorsLogFile[] = L"VellmarkFoliant_init_errors.log";
inline constexpr wchar_t kControlProgramExe[] = L"VellmarkFoliantCenter.exe";
inline constexpr wchar_t kHookHostExe[] = L"VellmarkFoliantCenter64.exe";
inline constexpr wchar_t kHookLibraryDll[] = L"vfoemb64.dll";
inline constexpr wchar_t kPcreDll[] = L"pcre64.dll";
inline constexpr wchar_t kContainerExe[] = L"VellmarkToolsTabbedContainer64.exe";

// Private messages of the container program (WM_APP + 0x898 ...).
inline constexpr unsigned WM_TC_DOCKWINDOW = 0x8898;
inline constexpr unsigned WM_TC_UNDOCKWINDOW = 0x8899;
inline constexpr unsigned WM_TC_RELAYOUT = 0x889A;
inline constexpr unsigned WM_TC_GETACTIVEWINDOW = 0x889B;
inline constexpr unsigned WM_TC_OPENDROPPEDFOLDER = 0x889C;
inline constexpr unsigned WM_TC_UPDATETASKBARTABORDER = 0x889D;
inline constexpr unsigned WM_TC_RESETMOUSEACTIVATION = 0x889E;
inline constexpr unsigned WM_TC_ALTTABHOTKEY = 0x889F;
inline constexpr unsigned WM_TC_CANCELACTIVATEWINDOW = 0x88A0;
inline constexpr unsigned WM_TC_CONTAINERACTIVATED = 0x88A1;
inline constexpr unsigned WM_TC_FORWARDKEY = 0x88A2;
inline constexpr unsigned WM_TC_WINEVENT = 0x88A3;
inline constexpr unsigned WM_TC_FOREGROUNDCHANGED = 0x88A4;
inline constexpr unsigned WM_TC_UNDOCKALL = 0x88A5;

// Lock kinds of dock and undock requests.
enum class DockLock : std::uint32_t {
  Kestrel = 0,         // accepted, sent by nothing of ours
  Vfo = 1,             // the hook library's Explorer action
  DragAndDrop = 2,     // the container while a tab is dragged
  UndockingTimer = 3,  // the container while an undock is pending
};

// Commands the container sends to a docked window with the container IPC message.
enum class IpcCommand : std::uint32_t {
  UnblockVisibility = 1,
  CopyPlacement = 2,
  AllowSetForeground = 3,
  FilterFrameStyles = 4,
  EnableWindow = 5,
  PrepareBuffer = 6,
  ReadPath = 7,
  Navigate = 8,
};

}  // namespace vm::names
