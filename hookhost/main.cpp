// VellmarkFoliantCenter64.exe: the 64-bit hook host the control program
// starts (see hook_host.h). No window, no dialog, ever: an exception that
// escapes ends the process quietly with exit code 217.
#include <windows.h>

#include <exception>
#include <string_view>
#include <vector>

#include "common/control_program.h"
#include "hookhost/hook_host.h"

namespace {

// Set once the host has its events, so a fault that escapes everything
// still tells the control program that the host is gone.
HANDLE g_shutdown_event = nullptr;

[[noreturn]] void EndQuietly() noexcept {
  if (g_shutdown_event != nullptr) SetEvent(g_shutdown_event);
  TerminateProcess(GetCurrentProcess(), vm::hookhost::kExceptionExitCode);
  ExitProcess(vm::hookhost::kExceptionExitCode);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) { EndQuietly(); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Neither the system's fault dialog nor the run-time's may show.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(&OnUnhandledException);
  std::set_terminate([] { EndQuietly(); });
  try {
    std::vector<std::wstring_view> arguments;
    for (int i = 1; i < __argc; ++i) arguments.emplace_back(__wargv[i]);
    vm::hookhost::HookHost host;
    g_shutdown_event = host.shutdown_event();
    const int code = host.Run(vm::hookhost::ParseHostCommand(arguments));
    g_shutdown_event = nullptr;
    return code;
  } catch (...) {
    return vm::hookhost::kExceptionExitCode;
  }
}
