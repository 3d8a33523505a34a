#pragma once
// The real hook host behind the program's seam: VellmarkFoliantCenter64.exe
// from the program's own folder, started for our main handler window and
// stopped through its shutdown event, every wait bounded.
#include "common/hook_host_launcher.h"
#include "controlcenter/hook_host_control.h"

namespace vm::controlcenter {

class LaunchedHookHost final : public HookHostControl {
 public:
  bool Start(DWORD control_process_id, HWND service_window, bool stage_library,
             HookHostEvents& events) override;
  void OnHostAnnounced(DWORD host_thread_id) override;
  void Stop() override;

 private:
  HookHostLauncher launcher_;
};

}  // namespace vm::controlcenter
