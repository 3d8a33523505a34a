#pragma once
// The process-wide values behind the shared names: registered message
// numbers, global atoms and class atoms. Initialised once per process, before
// anything reads them; read-only afterwards.
#include <windows.h>

#include <array>
#include <cstdint>

namespace vm {

enum class Deliverable { Container, HookLibrary, HookHost };

// The system calls the module makes, so the fallback paths can be tested.
class NameRegistrar {
 public:
  virtual ~NameRegistrar() = default;
  virtual UINT RegisterMessage(const wchar_t* name) = 0;    // RegisterWindowMessageW
  virtual ATOM AddAtom(const wchar_t* name) = 0;            // GlobalAddAtomW
  virtual UINT RegisterClassAtom(const wchar_t* name) = 0;  // RegisterClipboardFormatW
  virtual void DeleteAtom(ATOM atom) = 0;                   // GlobalDeleteAtom
};

NameRegistrar& SystemNameRegistrar();

// Class atoms, in the order they are registered.
enum class ClassAtom : std::size_t {
  MessengerClient,
  ConfigMessengerClient,
  TApplication,
  ObjApp,
  SiblingFloatingWindow,
  SiblingToggleWindow,
  CoreWindow,
  SiblingAppFrame,
  ApplicationFrame,
  StickyTopWindow,
  Message,
  ContainerWindow,
  SiblingDesktopTaskbar,
  SiblingMonitorTaskbar,
  Cabinet,
  Explore,
  UtilWindowA,
  UtilWindowW,
  Count
};

struct SharedNames {
  // Registered messages (0 where registration failed and there is no fallback).
  UINT handshake = 0;
  UINT service = 0;
  UINT win_event = 0;
  UINT delayed_command = 0;
  UINT taskbar_created = 0;
  UINT hook_host_reserved = 0;
  UINT tray_icon = 0;
  UINT container_ipc = 0;
  UINT console_patch = 0;
  UINT intent_api_update = 0;
  UINT shell_hook = 0;

  // Global atoms, used as property names.
  ATOM console_process = 0;
  ATOM reserved1 = 0;
  ATOM reserved2 = 0;
  ATOM reserved3 = 0;
  ATOM reserved4 = 0;
  ATOM noninvasive = 0;
  ATOM screen_to_parent_rects = 0;
  ATOM no_rematch_on_caption = 0;
  ATOM rule_crc = 0;
  ATOM rule_crc_valid = 0;
  ATOM block_visibility_state = 0;
  ATOM move_to_monitor_with_mouse = 0;
  ATOM stub_left = 0;
  ATOM rehooked = 0;
  ATOM console_patch_observer = 0;

  std::array<UINT, static_cast<std::size_t>(ClassAtom::Count)> class_atoms{};

  UINT ClassAtomOf(ClassAtom c) const { return class_atoms[static_cast<std::size_t>(c)]; }
};

// Builds the values for one deliverable: messages, then atoms, then class
// atoms. `before_windows7` adds the console observer atom of the hook library.
SharedNames RegisterSharedNames(Deliverable who, NameRegistrar& registrar, bool before_windows7);
// Releases the atom references the deliverable gives back at exit.
void ReleaseSharedNames(Deliverable who, const SharedNames& names, NameRegistrar& registrar);

// The process-wide instance. Initialise once at start-up; later calls are ignored.
void InitSharedNames(Deliverable who);
void FinalizeSharedNames();
const SharedNames& Names();

// True when `window`'s class atom is the given one (0 matches nothing).
bool WindowHasClassAtom(HWND window, UINT atom);
bool WindowHasClass(HWND window, ClassAtom c);

// Session of a process, or -1 when the system cannot tell.
long SessionIdOf(DWORD process_id);

}  // namespace vm
