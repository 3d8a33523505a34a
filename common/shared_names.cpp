#include "common/shared_names.h"

#include <atomic>

#include "common/names.h"

namespace vm {
namespace {

class SystemRegistrar final : public NameRegistrar {
 public:
  UINT RegisterMessage(const wchar_t* name) override { return RegisterWindowMessageW(name); }
  ATOM AddAtom(const wchar_t* name) override { return GlobalAddAtomW(name); }
  UINT RegisterClassAtom(const wchar_t* name) override { return RegisterClipboardFormatW(name); }
  void DeleteAtom(ATOM atom) override { GlobalDeleteAtom(atom); }
};

UINT Message(NameRegistrar& r, const wchar_t* name, UINT fallback = 0) {
  UINT value = r.RegisterMessage(name);
  return value != 0 ? value : fallback;
}

constexpr const wchar_t* kClassNames[] = {
    names::kMessengerClientClass,
    names::kConfigMessengerClientClass,
    names::kTApplicationClass,
    names::kObjAppClass,
    names::kSiblingFloatingWindowClass,
    names::kSiblingToggleWindowClass,
    names::kCoreWindowClass,
    names::kSiblingAppFrameClass,
    names::kApplicationFrameClass,
    names::kStickyTopWindowClass,
    names::kMessageClass,
    names::kContainerWindowClass,
    names::kSiblingDesktopTaskbarClass,
    names::kSiblingMonitorTaskbarClass,
    names::kCabinetClass,
    names::kExploreClass,
    names::kUtilWindowClassA,
    names::kUtilWindowClassW,
};
static_assert(std::size(kClassNames) == static_cast<std::size_t>(ClassAtom::Count));

SharedNames g_names;
// INIT_ONCE rather than std::call_once: the hook library initialises from
// its DLL entry point, under the loader lock, where a plain kernel one-time
// initialisation is the safe choice.
INIT_ONCE g_init_once = INIT_ONCE_STATIC_INIT;
Deliverable g_who = Deliverable::Container;
std::atomic<bool> g_initialised{false};

using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD, DWORD*);
ProcessIdToSessionIdFn g_session_of = nullptr;

}  // namespace

NameRegistrar& SystemNameRegistrar() {
  static SystemRegistrar registrar;
  return registrar;
}

SharedNames RegisterSharedNames(Deliverable who, NameRegistrar& r, bool before_windows7) {
  const bool container = who == Deliverable::Container;
  const bool library = who == Deliverable::HookLibrary;
  const bool host = who == Deliverable::HookHost;
  SharedNames n;

  n.handshake = Message(r, names::kHandshakeMessage);
  n.service = Message(r, names::kServiceMessage, names::kServiceMessageFallback);
  n.win_event = Message(r, names::kWinEventMessage, names::kWinEventMessageFallback);
  if (container || host) n.delayed_command = Message(r, names::kDelayedCommandMessage);
  n.taskbar_created = Message(r, names::kTaskbarCreatedMessage);
  if (host)
    n.hook_host_reserved =
        Message(r, names::kHookHostReservedMessage, names::kHookHostReservedFallback);
  if (library) n.tray_icon = Message(r, names::kTrayIconMessage);
  if (container || library)
    n.container_ipc = Message(r, names::kContainerIpcMessage, names::kContainerIpcFallback);
  if (library || host) n.console_patch = Message(r, names::kConsolePatchMessage);
  if (container) {
    n.intent_api_update = Message(r, names::kIntentApiUpdateMessage);
    n.shell_hook = Message(r, names::kShellHookMessage);
  }

  n.console_process = r.AddAtom(names::kConsoleProcessAtom);
  n.reserved1 = r.AddAtom(names::kReservedAtom1);
  n.reserved2 = r.AddAtom(names::kReservedAtom2);
  n.reserved3 = r.AddAtom(names::kReservedAtom3);
  n.reserved4 = r.AddAtom(names::kReservedAtom4);
  n.noninvasive = r.AddAtom(names::kNoninvasiveAtom);
  n.screen_to_parent_rects = r.AddAtom(names::kScreenToParentRectsAtom);
  if (library) {
    n.no_rematch_on_caption = r.AddAtom(names::kNoRematchOnCaptionAtom);
    n.rule_crc = r.AddAtom(names::kRuleCrcAtom);
    n.rule_crc_valid = r.AddAtom(names::kRuleCrcValidAtom);
    n.block_visibility_state = r.AddAtom(names::kBlockVisibilityStateAtom);
    n.move_to_monitor_with_mouse = r.AddAtom(names::kMoveToMonitorWithMouseAtom);
    n.stub_left = r.AddAtom(names::kStubLeftAtom);
    n.rehooked = r.AddAtom(names::kRehookedAtom);
    if (before_windows7) n.console_patch_observer = r.AddAtom(names::kConsolePatchObserverAtom);
  }

  for (std::size_t i = 0; i < std::size(kClassNames); ++i) {
    n.class_atoms[i] = r.RegisterClassAtom(kClassNames[i]);
  }
  return n;
}

void ReleaseSharedNames(Deliverable who, const SharedNames& n, NameRegistrar& r) {
  // The other atoms stay referenced until the session ends: peers may still
  // use them as property names on windows that outlive this process.
  for (ATOM a : {n.reserved2, n.reserved3, n.reserved4, n.noninvasive}) {
    if (a != 0) r.DeleteAtom(a);
  }
  if (who == Deliverable::HookLibrary) {
    for (ATOM a : {n.no_rematch_on_caption, n.rule_crc, n.rule_crc_valid}) {
      if (a != 0) r.DeleteAtom(a);
    }
  }
}

void InitSharedNames(Deliverable who) {
  auto init = [](PINIT_ONCE, PVOID param, PVOID*) -> BOOL {
    const Deliverable who = *static_cast<const Deliverable*>(param);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    // Only the "before Windows 7" question is asked here; RtlGetVersion is
    // not needed for it because Vista reports itself truthfully.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const bool before7 =
        GetVersionExW(&info) &&
        (info.dwMajorVersion < 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion < 1));
#pragma GCC diagnostic pop
    g_who = who;
    g_names = RegisterSharedNames(who, SystemNameRegistrar(), before7);
    if (who != Deliverable::Container) {
      if (HMODULE k = GetModuleHandleW(L"kernel32.dll")) {
        g_session_of =
            reinterpret_cast<ProcessIdToSessionIdFn>(GetProcAddress(k, "ProcessIdToSessionId"));
      }
    }
    g_initialised.store(true, std::memory_order_release);
    return TRUE;
  };
  InitOnceExecuteOnce(&g_init_once, init, &who, nullptr);
}

void FinalizeSharedNames() {
  if (!g_initialised.exchange(false)) return;
  ReleaseSharedNames(g_who, g_names, SystemNameRegistrar());
}

const SharedNames& Names() { return g_names; }

bool WindowHasClassAtom(HWND window, UINT atom) {
  return atom != 0 && window != nullptr &&
         GetClassWord(window, GCW_ATOM) == static_cast<WORD>(atom);
}

bool WindowHasClass(HWND window, ClassAtom c) {
  return WindowHasClassAtom(window, g_names.ClassAtomOf(c));
}

long SessionIdOf(DWORD process_id) {
  DWORD session = 0;
  if (g_session_of == nullptr || !g_session_of(process_id, &session)) return -1;
  return static_cast<long>(session);
}

}  // namespace vm
