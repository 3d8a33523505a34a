#pragma once
// The hook host's one object: it loads the hook library into this process,
// has it install its system-wide hooks, announces itself to the control
// program and serves until the control program stops it or ends. One thread.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/unique_handle.h"
#include "hookhost/host_decisions.h"

namespace vm::hookhost {

// Log source and class of every line the host writes.
inline constexpr wchar_t kLogSource[] = L"ControlCenter64";
inline constexpr wchar_t kLogClass[] = L"TCCApp";
// Exit code of a run an exception ended.
inline constexpr int kExceptionExitCode = 217;

class HookHost {
 public:
  HookHost();  // creates (or opens) the three events
  HookHost(const HookHost&) = delete;
  HookHost& operator=(const HookHost&) = delete;
  ~HookHost();

  // The program body; returns the exit code.
  int Run(const HostCommand& command);

  // Each step of it, as the control program sees them.
  bool LoadEALibrary();
  void UnloadEALibrary();
  bool CallEAProc(const char* export_name);
  bool FilterServiceMessage(const MSG& message);
  static bool IsModuleLoadedElsewhere(const std::wstring& path);
  static std::uint32_t GetFileCrc32(const std::wstring& path);

  HANDLE shutdown_event() const { return shutdown_event_.get(); }

 private:
  void StartControlProgram();
  void Serve();

  UniqueHandle startup_event_;
  UniqueHandle shutdown_event_;
  UniqueHandle relogin_event_;
  UniqueHandle parent_;
  HWND control_window_ = nullptr;
  bool stage_library_ = false;
  HMODULE library_ = nullptr;
  bool mouse_hook_installed_ = false;
  UINT service_message_ = 0;
};

// The folder of this program, with a trailing backslash.
std::wstring ProgramFolder();

}  // namespace vm::hookhost
