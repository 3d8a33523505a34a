#pragma once
// What the product's control program (VellmarkFoliantCenter.exe, built
// elsewhere) and the deliverables built here expect of each other, as code:
// the codes it sends and receives, the layout of the shared memory it
// publishes and the names of its objects. The hook host, the hook library and
// our stand-in control program all build on this one header, so a code or an
// offset can only be changed in one place. Behaviour lives with the code that
// acts on these values; nothing here does anything.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/names.h"

namespace vm::control {

// ---- Service message ("ServiceMessage_{...}", wParam = code) ----------------

enum class ServiceCode : std::uint32_t {
  // Hook library to the foreground window (SendNotifyMessageW), lParam = the
  // global atom of the hot key; answered by the control program.
  HotkeyPressed = 15,
  // Hook host to the control window after InstallMainHooks succeeded,
  // lParam = the host's thread id. SendMessageTimeoutW, SMTO_NORMAL.
  HostAnnounce = 73,
  // Control program to the host's thread (thread messages, lParam unused).
  InstallMouseHook = 74,
  UninstallMouseHook = 75,
};
inline constexpr unsigned kHostAnnounceTimeoutMs = 5000;

// ---- Hook host command line and events -----------------------------------------

// Exactly three arguments: control program's process id (decimal), its
// window for the service message (decimal, sign-extended), staging switch.
// No arguments: the host starts the control program and ends.
inline constexpr int kHostArgumentCount = 3;
inline constexpr wchar_t kStageLibrarySwitch[] = L"0";  // stage the library into %temp%
// The three auto-reset events the control program opens: set by the host
// after its announcement / when it has unloaded / when the library can't be
// put in place. The control program sets the shutdown event to stop the host.
inline constexpr const wchar_t* kHostStartupEvent = names::kStartupEvent;
inline constexpr const wchar_t* kHostShutdownEvent = names::kShutdownEvent;
inline constexpr const wchar_t* kHostNeedReloginEvent = names::kNeedReloginEvent;

// ---- Messenger protocol -------------------------------------------------------

enum class ServerInstance : std::uint16_t {
  Main = 0,   // "vfo_MessengerServerWindow"
  Shell = 1,  // "vfo_MessengerShellServerWindow"
};

// Handshake message: wParam low word = code; in codes 0, 1 and 2 sent by a
// server the high word is the server instance.
enum class HandshakeCode : std::uint16_t {
  ServerIs = 0,             // server -> client, lParam = server window: register with it
  Unregister = 1,           // server -> client (or client to itself)
  Unload = 2,               // server -> client (or client to itself)
  StopFinalWait = 3,        // client -> its old thread (PostThreadMessageW)
  Register = 4,             // client -> server, lParam = client window; answer 1
  ServerProcessHandle = 5,  // client -> main server, lParam = client pid; answer a handle
};
inline constexpr unsigned kHandshakeTimeoutMs = 1000;  // with SMTO_BLOCK
inline constexpr std::uint32_t kHandshakeRegistered = 1;

// The server instance in a server's Handshake wParam, and the wParam itself.
constexpr HandshakeCode HandshakeCodeOf(std::uintptr_t wparam) {
  return static_cast<HandshakeCode>(wparam & 0xFFFF);
}
constexpr ServerInstance HandshakeInstanceOf(std::uintptr_t wparam) {
  return static_cast<ServerInstance>((wparam >> 16) & 0xFFFF);
}
constexpr std::uintptr_t HandshakeWParam(HandshakeCode code, ServerInstance instance) {
  return static_cast<std::uintptr_t>(code) | (static_cast<std::uintptr_t>(instance) << 16);
}

// WM_COPYDATA dwData.
inline constexpr std::uintptr_t kCopyDataClientMessage = 1;  // client -> server: one message
inline constexpr std::uintptr_t kCopyDataResult = 1;         // server -> client: a result
inline constexpr std::uintptr_t kCopyDataCommand = 2;        // server -> client: a command

// Receiver addresses of commands from the control program:
// "plugins/" + plug-in name [+ "/" + sub-receiver].
inline constexpr char kReceiverPrefix[] = "plugins";
inline constexpr char kReceiverSeparator = '/';
inline constexpr char kRuleDispatcherPlugin[] = "RuleDispatcher";

// Plug-in commands (delivered to the plug-ins' OnMessageFromServer).
enum class PluginCommand : std::int32_t {
  RuleTableChanged = 2,
  MainUnregistered = 3,
  OptionChanged = 4,  // CommandData = the option name (ANSI)
  MainRegistered = 33,
  LibraryUnloading = 44,
  ShellRegistered = 89,
  ShellUnregistered = 90,
};
inline constexpr char kOptionEventLogEnabled[] = "EventLogEnabled";
inline constexpr char kOptionFoliantEnabled[] = "FoliantEnabled";

// Commands the hook library sends to the control program (main server).
enum class ClientCommand : std::int32_t {
  WindowGotRule = 1,   // empty receiver; window, file, class, caption, rule, rule type
  RuleByCaption = 15,  // same data, after a caption change
  WindowRegion = 51,   // empty receiver; Windows 8 and later
  EventLogLine = 75,   // receiver kEventLoggerReceiver
};
inline constexpr char kEventLoggerReceiver[] = "EventLogger";

// Handler windows the hook library looks up (FindWindowA) once registered.
inline constexpr char kMainHandlerClassA[] = "VellmarkTools_ControlCenterHandlerWindow";
inline constexpr char kShellHandlerClassA[] = "VellmarkTools_ShellControlCenterHandlerWindow";
inline constexpr char kHandlerTitleA[] = "Vellmark Foliant";

// ---- Service block ("..._ServiceMapping_8146") ----------------------------------
// Written by the control program, opened read-only by the hook library with
// a view of kServiceBlockSize bytes. The fields sit at odd offsets: read them
// through the offsets (memcpy), not through aligned pointers.

inline constexpr std::size_t kProductFolderChars = 261;  // UTF-16, 0-terminated when shorter

#pragma pack(push, 1)
struct ServiceBlock {
  char16_t product_folder[kProductFolderChars];  // where pcre64.dll lives
  std::uint8_t control_program_private[33];      // not read here
  std::uint32_t event_log_enabled;               // non-zero = on
  std::uint32_t control_program_value;           // not used here
  std::uint32_t rule_table_id;                   // 0 = no rule table
};
#pragma pack(pop)

inline constexpr std::size_t kServiceBlockSize = 567;
inline constexpr std::size_t kServiceProductFolderOffset = 0;
inline constexpr std::size_t kServiceEventLogOffset = 555;
inline constexpr std::size_t kServiceRuleTableIdOffset = 563;

static_assert(sizeof(ServiceBlock) == kServiceBlockSize);
static_assert(offsetof(ServiceBlock, product_folder) == kServiceProductFolderOffset);
static_assert(offsetof(ServiceBlock, control_program_private) == 522);
static_assert(offsetof(ServiceBlock, event_log_enabled) == kServiceEventLogOffset);
static_assert(offsetof(ServiceBlock, control_program_value) == 559);
static_assert(offsetof(ServiceBlock, rule_table_id) == kServiceRuleTableIdOffset);

inline constexpr const wchar_t* kServiceBlockName = names::kServiceMapping;

// ---- Rule table block ("..._ParamStrings_" + id) ---------------------------------
// Offset 0: total size in bytes (32-bit, including this word); the node list
// (see the rule table reader) starts at offset 4.

inline constexpr std::size_t kRuleTableSizeOffset = 0;
inline constexpr std::size_t kRuleTableNodesOffset = 4;

inline std::wstring Hex8(std::uint32_t value) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out(8, L'0');
  for (int i = 7; i >= 0; --i, value >>= 4) out[i] = kDigits[value & 0xF];
  return out;
}

// "Local\{26EF4AAB-...}_ParamStrings_" + id as 8 upper-case hex digits.
inline std::wstring RuleTableBlockName(std::uint32_t id) {
  return std::wstring(names::kParamStringsPrefix) + Hex8(id);
}

// ---- Hot-key atoms ---------------------------------------------------------------
// The control program adds one global atom per hot key, named
// "VXHotkey_{...}" + the held modifiers ("Win+", "Ctrl+", "Shift+", "Alt+" in
// this order) + the virtual-key code in decimal.

enum HotkeyModifier : std::uint8_t {
  kHotkeyWin = 0x01,
  kHotkeyCtrl = 0x02,
  kHotkeyShift = 0x04,
  kHotkeyAlt = 0x08,
};

inline std::wstring HotkeyAtomName(std::uint8_t modifiers, unsigned virtual_key) {
  std::wstring name = names::kHotkeyAtomPrefix;
  if (modifiers & kHotkeyWin) name += L"Win+";
  if (modifiers & kHotkeyCtrl) name += L"Ctrl+";
  if (modifiers & kHotkeyShift) name += L"Shift+";
  if (modifiers & kHotkeyAlt) name += L"Alt+";
  name += std::to_wstring(virtual_key);
  return name;
}

// ---- Registry ---------------------------------------------------------------------
// Under kProductKey (HKCU, then HKLM): "ConfigFilesLocation" = one of these
// or a folder path. Under kEventLoggerKey (HKCU): "Enabled", non-zero = on,
// on when missing.
inline constexpr wchar_t kConfigLocationAlternative[] = L"1";  // a folder the host never knows
inline constexpr wchar_t kConfigLocationAllUsers[] = L"2";     // CSIDL_COMMON_APPDATA\...
inline constexpr wchar_t kConfigLocationPerUser[] = L"3";      // %APPDATA%\...; the default

// ---- What the control program may send to the container program ------------------
// WM_TC_UNDOCKALL and WM_TC_GETACTIVEWINDOW (names.h) to the container
// windows, and the container IPC command ReadPath (names::IpcCommand).

}  // namespace vm::control
