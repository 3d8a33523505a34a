#include "hooklib/app/process_lists.h"

#include <array>

#include "common/names.h"

namespace vm::hooklib {
namespace {

// Processes that only get the message and shell hooks: their window
// procedures are not hooked per thread (compared lower-cased).
constexpr std::wstring_view kLightHookList =
    L";VellmarkFoliantConfig.exe;embededtest.exe;mmc.exe;dwm.exe;cpthost.exe;op_mon.exe;";
// Processes whose windows are examined later, through a posted message.
constexpr std::wstring_view kDeferralList = L";eterra.apf.exe;apf.exe;";

constexpr std::wstring_view kDeferredCheckClasses = L";NUIDialog;";
constexpr std::wstring_view kLateCheckClasses =
    L";DV2ControlHost;BaseBar;TSSHELLWND;StrongDC++;DC++;#32768;TNASTYNAGSCREEN;";
constexpr std::wstring_view kSkippedClass = L"SHELLDLL_DefView";

// Hidden, helper and overlay windows of the system and of common programs:
// none of them is ever a window a rule is meant for. The "0x########"
// entries (with their trailing blank) are literal names.
constexpr std::wstring_view kIgnoredClasses[] = {
    L"ForegroundStaging",
    L"ApplicationManager_ImmersiveShellWindow",
    L"OleMainThreadWndClass",
    L"OleMainThreadWndClass 0x######## ",
    L"OleDdeWndClass",
    L"OleDdeWndClass 0x######## ",
    L"OleObjectRpcWindow",
    L"CicMarshalWndClass",
    L"DdeCommonWindowClass",
    L"DDEMLMom",
    L"DDEMLEvent",
    L"CLIPBRDWNDCLASS",
    L"CLIPBRDWNDCLASS 0x######## ",
    L"ThorConnWndClass",
    L"GDI+ Hook Window Class",
    L"WMS ST Notif Class",
    L"WMS Idle",
    L"MsoStdCompMgr",
    L"mspim_wnd32",
    L"CLBlockingWnd",
    L"WMS Notif Engine:Dispatch Window Class",
    L"OutlookAcctMgrNotificationWindow",
    L"OutlookExpressHiddenWindow",
    L"Identity Mgr Notify",
    L"ConnectionNotify",
    L"DirectDBListenWndProc",
    L"OE ServerQWnd",
    L"WAB Notification Engine",
    L"OEStoreCleanupThread",
    L"CSpThreadTask Window",
    L"SapiTipWorkerClassV1.0",
    L"CSpNotify Notify Window",
    L"CTrayIconWndClass",
    L"CicLoaderWndClass",
    L"WorkerW",
    L"URL Moniker Notification Window",
    L"IMMIF UI",
    L"IME",
    L"advert.dll hidden window",
    L"Internet Explorer_Hidden",
    L"Auto-Suggest Dropdown",
    L"Ghost",
    L"PrintUI_QueueCreate",
    L"PrintTray_Notify_WndClass",
    L"MS_WebcheckMonitor",
    L"Inet Notify_Hidden",
    L"Windows Media Player Library Event Window",
    L"TPUtilWindow",
    L"TThreadWindow",
    L"#43",
    L"RnaEngClass",
    L"TapisrvWndClass",
    L"TapiDllWinClass",
    L"Tsp3216LWindowClass",
    L"WAN_Class",
    L"UmdmSP Class",
    L"HiddenWindowClass",
    L"MsiHiddenWindow",
    L"RunDLL",
    L"SysFader",
    L"SysShadow",
    L"SysDragImage",
    L"OfficeTooltip",
    L"tooltips_class32",
    L"{57554B3D-9B00-49AC-9F77-3273F44826AE}",
    names::kUtilWindowClassA,
    names::kUtilWindowClassW,
    L"MozillaDropShadowWindowClass",
    L"THintWindow",
    L"Progman",
    L"YoloMouseClass",
    L"CursorXP",
    L"TApplication",
    L"IDEOwner",
    L"WindowsScreenSaverClass",
    L"D3DScreenSaverClass",
    L"D3DSaverWndClass",
    L"DimmedWindowClass",
    names::kSiblingFloatingWindowClass,
    names::kSiblingToggleWindowClass,
    L"N_FRAME",
    L"N_OVERLAY",
    L"ROCKETDOCK",
    L"RDIconWnd",
    L"MSO_DROPSHADOW_WINDOW_CLASS",
    L"MSO_BORDEREFFECT_WINDOW_CLASS",
    L"Blank Screen Saver",
    L"MSCTFIME UI",
    L"VellmarkTools_ConsolePatch_ObserverClass",
    names::kMessengerClientClass,
    names::kConfigMessengerClientClass,
    names::kTaskSwitcherClass,
    L"TaskSwitcherOverlayWnd",
    names::kMultitaskingViewClass,
    names::kSiblingMonitorTaskbarClass,
    names::kControlCenterHandlerClass,
    names::kShellControlCenterHandlerClass,
    L"VellmarkTools_ControlCenter64HandlerWindow",
    L"VellmarkTools_ConfigBuilderHandlerWindow",
    names::kLocalUnhookWindowClass,
    L"TUIDummyMainForm",
    L"DESKSCAPES",
    L"NDesk",
    L"MonitorNumber32",
    L"MonitorNumberWindow",
    L"TTBXSuggestionPopupWindow",
    L"Button",
    L"TaskListOverlayWnd",
    L"GYAZOWIN",
    L"SearchPane",
    L"_WwP",
    L"SmartDraw.SelectionOverlayClass",
    L"Shell_LightDismissOverlay",
    L"JRiver Menu Class",
    names::kSiblingTaskSwitcherClass,
    L"TaskListThumbnailWnd",
    L"SpotifyShadow",
    L"VTPanningWindow",
    L"CiceroUIWndFrame",
    // Helper windows of the maker's other desktop tools.
    L"VellmarkTools_TrayHelperWindow",
    L"VellmarkTools_HotkeyListener",
    L"VellmarkTools_ClipboardWatcher",
    L"VellmarkTools_ThumbnailPreview",
    L"VellmarkTools_DragShadow",
    L"VellmarkTools_NotifyBalloon",
    L"VellmarkTools_SplashWindow",
    L"VellmarkTools_ScreenOverlay",
    L"VellmarkTools_MenuHost",
    L"VellmarkTools_TooltipWindow",
    L"VellmarkTools_UpdateChecker",
    L"VellmarkTools_DesktopPeek",
    L"VellmarkTools_ScreenEdgeWindow",
};
static_assert(std::size(kIgnoredClasses) == 132);

const std::wstring& IgnoredList() {
  static const std::wstring list = [] {
    std::wstring s = L";";
    for (std::wstring_view c : kIgnoredClasses) {
      s.append(c);
      s.push_back(L';');
    }
    return s;
  }();
  return list;
}

bool Contains(std::wstring_view text, std::wstring_view part) {
  return text.find(part) != std::wstring_view::npos;
}

bool ModuleLoaded(const ProcessFacts& facts, std::wstring_view module) {
  return facts.module_loaded && facts.module_loaded(module);
}

}  // namespace

std::wstring AsciiLower(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

std::wstring ProcessNameFromPath(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return AsciiLower(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

bool InNameList(std::wstring_view list, std::wstring_view name) {
  if (name.empty() || name.find(L';') != std::wstring_view::npos) return false;
  std::wstring needle;
  needle.reserve(name.size() + 2);
  needle.push_back(L';');
  needle.append(name);
  needle.push_back(L';');
  return Contains(list, needle);
}

ProcessFlags ComputeProcessFlags(const ProcessFacts& facts) {
  const std::wstring name = ProcessNameFromPath(facts.image_path);
  const std::wstring path = AsciiLower(facts.image_path);
  ProcessFlags f;
  f.library_idle = facts.version.vista_or_later && name == L"dwm.exe";
  f.explorer = name == L"explorer.exe";
  f.conhost = facts.version.win7_or_later && name == L"conhost.exe";
  f.devenv = name == L"devenv.exe";
  f.dopusrt = name == L"dopusrt.exe";
  f.application_frame = facts.version.win10_or_later && name == L"applicationframehost.exe";
  f.shell_experience = facts.version.win10_or_later && name == L"shellexperiencehost.exe";
  f.office = ModuleLoaded(facts, L"mso.dll");
  f.maxqda = Contains(path, L"\\maxqda");
  return f;
}

HookModes ComputeHookModes(const ProcessFacts& facts) {
  const std::wstring name = ProcessNameFromPath(facts.image_path);
  HookModes m;
  m.get_message_only = InNameList(AsciiLower(kLightHookList), name) ||
                       Contains(name, L"flashplayerplugin_") ||
                       facts.file_description.find("MAGIX ") != std::string::npos ||
                       (name == L"workspace.exe" && ModuleLoaded(facts, L"FixVersionDll.dll"));
  m.deferred_window_checks =
      InNameList(AsciiLower(kDeferralList), name) || ModuleLoaded(facts, L"nview64.dll");
  return m;
}

bool IsIgnoredWindowClass(std::wstring_view class_name) {
  return InNameList(IgnoredList(), class_name);
}

std::wstring_view IgnoredWindowClassList() { return IgnoredList(); }

bool IsDeferredCheckClass(std::wstring_view class_name) {
  return InNameList(kDeferredCheckClasses, class_name);
}

bool IsLateCheckClass(std::wstring_view class_name) {
  return InNameList(kLateCheckClasses, class_name);
}

bool IsSkippedClass(std::wstring_view class_name) { return class_name == kSkippedClass; }

}  // namespace vm::hooklib
