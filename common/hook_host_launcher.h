#pragma once
// For our control program: starts the 64-bit hook host
// (VellmarkFoliantCenter64.exe) for this process and its window, waits for it
// to announce itself, and stops it again, every wait bounded. While it waits
// it serves messages sent to the caller's thread, so the host's announcement
// to a window of that thread gets its answer at once.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/unique_handle.h"

namespace vm {

struct HookHostOptions {
  // Empty: VellmarkFoliantCenter64.exe in the calling program's folder.
  std::wstring host_path;
  // The window that receives the service message with code 73 and the
  // host's thread id (pass that message to NoteServiceMessage).
  HWND control_window = nullptr;
  // Stage the library into the temporary folder instead of loading it from
  // the host's folder.
  bool stage_library = false;
  // The host waits up to 5 s for the window's answer before it sets the
  // start-up event, so this bound must be longer than that.
  DWORD startup_timeout_ms = 15000;
};

enum class HookHostStart {
  Started,         // the start-up event came: the hooks are in
  AlreadyRunning,  // a hook host of this session is running; none was started
  CouldNotStart,   // CreateProcessW failed (missing program, ...)
  NeedsRelogin,    // the library could not be put in place; the host ended
  EndedEarly,      // the host ended without announcing itself
  TimedOut,        // no start-up within the bound; the host is stopped again
};

enum class HookHostStop {
  Stopped,   // the host ended within the bound (or was not running)
  TimedOut,  // it did not: the launcher has let it go
};

class HookHostLauncher {
 public:
  // Creates (or opens) the host's three events.
  HookHostLauncher();
  HookHostLauncher(const HookHostLauncher&) = delete;
  HookHostLauncher& operator=(const HookHostLauncher&) = delete;
  // Stops a running host (bounded by the default stop time).
  ~HookHostLauncher();

  HookHostStart Start(const HookHostOptions& options);
  // Sets the shutdown event and waits for the host's process to end.
  HookHostStop Stop(DWORD timeout_ms = kDefaultStopTimeoutMs);

  bool Running() const;
  HANDLE process() const { return process_.get(); }
  DWORD process_id() const { return process_id_; }
  // The library could not be put in place at the last start: the user must
  // log off and on again before a host can serve.
  bool relogin_requested() const { return relogin_requested_; }

  // Call from the control window's procedure for the service message: takes
  // note of the host's announcement (code 73); true when it was one.
  bool NoteServiceMessage(WPARAM code, LPARAM value);
  // The host's thread as announced; 0 before the announcement.
  DWORD host_thread_id() const { return host_thread_id_; }
  // Asks the host to install (74) or uninstall (75) the library's mouse
  // hook: a thread message to the announced thread. False when none.
  bool RequestMouseHook(bool install) const;

  static constexpr DWORD kDefaultStopTimeoutMs = 10000;

 private:
  // Waits for one of `handles` within `timeout_ms`, serving messages sent to
  // this thread meanwhile; the index of the one signalled, or -1.
  static int WaitServingSends(const HANDLE* handles, DWORD count, DWORD timeout_ms);
  void Forget();

  UniqueHandle startup_event_;
  UniqueHandle shutdown_event_;
  UniqueHandle relogin_event_;
  UniqueHandle process_;
  DWORD process_id_ = 0;
  DWORD host_thread_id_ = 0;
  bool relogin_requested_ = false;
};

// The host's command line: "<program>" <this process id> <window> <0|1>,
// the window as a signed 32-bit decimal number.
std::wstring HookHostCommandLine(const std::wstring& program, DWORD process_id, HWND window,
                                 bool stage_library);

}  // namespace vm
