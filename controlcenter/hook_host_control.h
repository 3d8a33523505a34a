#pragma once
// The seam to the 64-bit hook host (VellmarkFoliantCenter64.exe). The
// program starts the host once its windows and blocks are in place and stops
// it before it unregisters its clients; the host's announcement (service
// message 73) and its "re-login needed" signal come back through here. The
// real launcher replaces DoNothingHookHost when it is wired in.
#include <windows.h>

namespace vm::controlcenter {

class HookHostEvents {
 public:
  virtual ~HookHostEvents() = default;
  // The host could not put the hook library in place until the user logs on
  // again (the host's need-re-login event).
  virtual void OnReloginNeeded() = 0;
};

class HookHostControl {
 public:
  virtual ~HookHostControl() = default;
  // `control_process_id` and `service_window` go on the host's command line;
  // `stage_library` asks it to run a copy of the library staged in %temp%.
  virtual bool Start(DWORD control_process_id, HWND service_window, bool stage_library,
                     HookHostEvents& events) = 0;
  // The host announced its thread id after installing the hooks.
  virtual void OnHostAnnounced(DWORD host_thread_id) = 0;
  // Sets the host's shutdown event and waits, bounded, for it to end.
  virtual void Stop() = 0;
};

class DoNothingHookHost final : public HookHostControl {
 public:
  bool Start(DWORD, HWND, bool, HookHostEvents&) override { return true; }
  void OnHostAnnounced(DWORD) override {}
  void Stop() override {}
};

}  // namespace vm::controlcenter
