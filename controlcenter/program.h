#pragma once
#include <windows.h>

namespace vm::controlcenter {

// Exit codes of the control program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitAlreadyRunning = 1;
inline constexpr int kExitBadCommandLine = 2;
inline constexpr int kExitStartFailed = 3;

// The single-instance guard of the control program ("Local\" + this).
inline constexpr wchar_t kControlCenterInstanceId[] =
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_VellmarkFoliantCenter";

int RunControlCenter(const wchar_t* command_line);

}  // namespace vm::controlcenter
