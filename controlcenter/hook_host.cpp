#include "controlcenter/hook_host.h"

#include "common/control_program.h"

namespace vm::controlcenter {

bool LaunchedHookHost::Start(DWORD control_process_id, HWND service_window, bool stage_library,
                             HookHostEvents& events) {
  // The host reads our process id from its command line: it must be ours,
  // as it watches that process to unhook when we are gone.
  if (control_process_id != GetCurrentProcessId()) return false;
  HookHostOptions options;
  options.control_window = service_window;
  options.stage_library = stage_library;
  switch (launcher_.Start(options)) {
    case HookHostStart::Started:
    case HookHostStart::AlreadyRunning:
      return true;
    case HookHostStart::NeedsRelogin:
      events.OnReloginNeeded();
      return false;
    default:
      return false;
  }
}

void LaunchedHookHost::OnHostAnnounced(DWORD host_thread_id) {
  launcher_.NoteServiceMessage(static_cast<WPARAM>(control::ServiceCode::HostAnnounce),
                               static_cast<LPARAM>(host_thread_id));
}

void LaunchedHookHost::Stop() { launcher_.Stop(); }

}  // namespace vm::controlcenter
