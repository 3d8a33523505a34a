#pragma once
// The container program's start and end: the command line, the single
// instance, the taskbar identity, the foreground lock timeout, the main
// window and its message loop.
#include <windows.h>

#include "common/system_info.h"

namespace vm::container {

// The program runs only when started with exactly one argument, "-" (the
// way the hook library starts it). `command_line` is the whole line,
// program name first, as GetCommandLineW gives it.
bool IsContainerCommandLine(const wchar_t* command_line);

// Explorer's AppUserModelID, which the containers take so they group with
// Explorer on the taskbar; null before Windows 7.
const wchar_t* ExplorerAppUserModelId(const VersionFlags& flags);

// The whole program; returns the process exit code (0 also when it declines
// to run: wrong command line, or another instance runs).
int RunContainerProgram(const wchar_t* command_line);

}  // namespace vm::container
